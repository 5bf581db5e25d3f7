// The platform layer's files, lookup and replacement, on whichever platform
// the tests run (the copies are block_copy_test's and kernel_copy_test's).
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/closing_batch.h"
#include "file_folder_test.h"

namespace {

namespace fs = std::filesystem;

// Each test in a fresh folder of its own.
using PlatformTest = FileFolderTest;

TEST_F(PlatformTest, AFolderIsNeverOpenedAsAFile) {
  fs::create_directories(Path("sub"));
  EXPECT_FALSE(platform::IsOpen(platform::OpenForReading(Path("sub").c_str())));
  EXPECT_FALSE(platform::IsOpen(OpenToWrite(Path("sub"))));
  EXPECT_TRUE(fs::is_directory(Path("sub")));
}

TEST_F(PlatformTest, ReadAtGivesZeroAtTheEnd) {
  Write("f", "abcdef");
  platform::FileHandle file = platform::OpenForReading(Path("f").c_str());
  ASSERT_TRUE(platform::IsOpen(file));
  char bytes[8] = {};
  EXPECT_EQ(platform::ReadAt(file, 4, bytes, sizeof bytes), 2);
  EXPECT_EQ(std::string(bytes, 2), "ef");
  EXPECT_EQ(platform::ReadAt(file, 6, bytes, sizeof bytes), 0);
  platform::CloseFile(file);
}

struct LookupCase {
  const char* name;
  std::string pattern;
  bool found;
  std::string stored;
};

class LookupTest : public PlatformTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(LookupTest, FindsTheEntryAsTheFolderHoldsIt) {
  for (const char* name : {"b.zip", "a.zip.2", "a.zip.10", "a.zip.1", "c.txt"}) Write(name, "x");
  fs::create_directories(Path("folder.1"));
  char stored[512] = "untouched";
  platform::EntryLookup lookup =
      platform::FindDirectoryEntry(Path(GetParam().pattern).c_str(), stored, sizeof stored);
  EXPECT_EQ(lookup.found, GetParam().found);
  EXPECT_FALSE(lookup.release_failed);
  if (GetParam().found) {
    EXPECT_STREQ(stored, GetParam().stored.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LookupTest,
    ::testing::Values(LookupCase{"ExactName", "a.zip.2", true, "a.zip.2"},
                      LookupCase{"Missing", "nothing.zip", false, ""},
                      LookupCase{"FolderMatches", "folder.1", true, "folder.1"},
                      // several match: on POSIX the first in byte order; on Win32 the
                      // first listed, which for these names is the same
                      LookupCase{"StarFirstInByteOrder", "*.zip*", true, "a.zip.1"},
                      LookupCase{"StarMatchesFolders", "*.1", true, "a.zip.1"},
                      LookupCase{"QuestionMark", "?.zip", true, "b.zip"},
                      LookupCase{"StarAlone", "*", true, "a.zip.1"},
                      LookupCase{"NoWildcardMatch", "*.rar", false, ""},
                      LookupCase{"TrailingSeparator", "", false, ""}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST_F(PlatformTest, SameFileKnowsOneFileByTwoNames) {
  Write("a", "x");
  Write("b", "x");
  EXPECT_TRUE(platform::SameFile(Path("a").c_str(), Path("a").c_str()));
  EXPECT_FALSE(platform::SameFile(Path("a").c_str(), Path("b").c_str()));
  EXPECT_FALSE(platform::SameFile(Path("a").c_str(), Path("missing").c_str()));
  std::error_code no_links;
  fs::create_hard_link(Path("a"), Path("c"), no_links);
  if (no_links) GTEST_SKIP() << "no hard links here: " << no_links.message();
  EXPECT_TRUE(platform::SameFile(Path("a").c_str(), Path("c").c_str()));
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Files written over in place, links left alone, the temporary output.

platform::FileIdentity IdentityOf(const std::string& path) {
  platform::FileFacts facts{};
  platform::FileHandle file = platform::OpenForReading(path.c_str(), &facts);
  EXPECT_TRUE(platform::IsOpen(file)) << path;
  if (platform::IsOpen(file)) platform::CloseFile(file);
  return facts.identity;
}

const platform::FileIdentity kNoIdentity{~std::uint64_t{0}, ~std::uint64_t{0}};

TEST_F(PlatformTest, OpeningForReadingTellsTheKindAndSize) {
  Write("f", "abcdef");
  platform::FileFacts facts{};
  platform::FileHandle file = platform::OpenForReading(Path("f").c_str(), &facts);
  ASSERT_TRUE(platform::IsOpen(file));
  platform::CloseFile(file);
  EXPECT_EQ(facts.kind, platform::FileKind::kRegular);
  EXPECT_EQ(facts.size, 6u);
  EXPECT_EQ(platform::LookAtPath(Path("f").c_str()), platform::PathKind::kRegular);
  EXPECT_EQ(platform::LookAtPath(Path("missing").c_str()), platform::PathKind::kAbsent);
  fs::create_directories(Path("sub"));
  EXPECT_EQ(platform::LookAtPath(Path("sub").c_str()), platform::PathKind::kFolder);
}

// POSIX writes the old bytes over, not discarding them first: what the new
// contents do not reach is still there until the caller cuts it. Win32 puts
// a new file at every existing name instead (under Wine a link to a file
// looks like a plain file), so nothing old is left to cut.
TEST_F(PlatformTest, AnExistingFileIsWrittenOverOrReplaced) {
  const bool replaced = platform::kPathSeparator == '\\';
  Write("f", "old contents");
  platform::OverwriteTarget target{};
  ASSERT_EQ(platform::OpenForOverwrite(Path("f").c_str(), kNoIdentity, &target),
            platform::OverwriteOpen::kOpened);
  EXPECT_EQ(target.old_size, replaced ? 0u : 12u);
  EXPECT_TRUE(platform::WriteAt(target.file, 0, "new", 3));
  EXPECT_EQ(Read("f"), replaced ? "new" : "new contents");
  EXPECT_TRUE(platform::TruncateFile(target.file, 3));
  EXPECT_TRUE(platform::CloseFile(target.file));
  EXPECT_EQ(Read("f"), "new");

  ASSERT_EQ(platform::OpenForOverwrite(Path("g").c_str(), kNoIdentity, &target),
            platform::OverwriteOpen::kOpened);
  EXPECT_EQ(target.old_size, 0u);
  EXPECT_TRUE(platform::CloseFile(target.file));
  EXPECT_TRUE(fs::exists(Path("g")));
}

TEST_F(PlatformTest, TheGuardedFileIsNeverOpenedForWriting) {
  Write("input", "precious");
  std::error_code no_links;
  fs::create_hard_link(Path("input"), Path("segment"), no_links);
  if (no_links) GTEST_SKIP() << "no hard links here";
  platform::OverwriteTarget target{};
  EXPECT_EQ(platform::OpenForOverwrite(Path("segment").c_str(), IdentityOf(Path("input")), &target),
            platform::OverwriteOpen::kIsGuarded);
  // Any other file that shares its bytes with the name is replaced instead.
  ASSERT_EQ(platform::OpenForOverwrite(Path("segment").c_str(), kNoIdentity, &target),
            platform::OverwriteOpen::kOpened);
  EXPECT_TRUE(platform::WriteAt(target.file, 0, "new", 3));
  EXPECT_TRUE(platform::CloseFile(target.file));
  EXPECT_EQ(Read("input"), "precious");
  EXPECT_EQ(Read("segment"), "new");
}

TEST_F(PlatformTest, ALinkIsReplacedNotFollowed) {
  Write("target", "outside");
  std::error_code no_links;
  fs::create_symlink(Path("target"), Path("link"), no_links);
  if (no_links) GTEST_SKIP() << "no symbolic links here";
  EXPECT_EQ(platform::LookAtPath(Path("link").c_str()), platform::PathKind::kLink);
  platform::OverwriteTarget target{};
  ASSERT_EQ(platform::OpenForOverwrite(Path("link").c_str(), kNoIdentity, &target),
            platform::OverwriteOpen::kOpened);
  EXPECT_TRUE(platform::WriteAt(target.file, 0, "new", 3));
  EXPECT_TRUE(platform::CloseFile(target.file));
  EXPECT_EQ(Read("target"), "outside");
  EXPECT_EQ(platform::LookAtPath(Path("link").c_str()), platform::PathKind::kRegular);
  EXPECT_EQ(Read("link"), "new");
}

// The replacement takes the target's place only when committed, keeps the
// old file's mode, never takes a name that was free when the run looked and
// is taken since, and leaves nothing behind when discarded.
TEST_F(PlatformTest, AReplacementTakesThePlaceOnlyWhenCommitted) {
  Write("out", "old");
  // Modes are POSIX's; on Win32 taking away the write bits makes the file
  // read-only, which is never replaced.
  const bool modes = platform::kPathSeparator == '/';
  const fs::perms private_mode = fs::perms::owner_read | fs::perms::owner_write;
  if (modes) fs::permissions(Path("out"), private_mode);
  const platform::Folder folder = platform::OpenFolder((folder_.string() + platform::kPathSeparator).c_str());
  const std::string out = Path("out");
  const std::size_t name_offset = out.size() - 3;
  platform::Replacement replacement{};
  ASSERT_EQ(platform::BeginReplacement({folder, out.c_str(), name_offset},
                                       platform::PathKind::kRegular, &replacement),
            platform::ReplacementStart::kStarted);
  EXPECT_TRUE(platform::WriteAt(replacement.file, 0, "new", 3));
  EXPECT_EQ(Read("out"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);
  ASSERT_EQ(platform::CommitReplacement(&replacement), platform::ReplacementEnd::kCommitted);
  EXPECT_EQ(Read("out"), "new");
  if (modes) {
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, private_mode);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);

  const std::string late = Path("late");
  ASSERT_EQ(platform::BeginReplacement({folder, late.c_str(), name_offset},
                                       platform::PathKind::kAbsent, &replacement),
            platform::ReplacementStart::kStarted);
  Write("late", "saved meanwhile");
  EXPECT_EQ(platform::CommitReplacement(&replacement), platform::ReplacementEnd::kTargetTaken);
  platform::DiscardReplacement(&replacement);
  EXPECT_EQ(Read("late"), "saved meanwhile");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);
  platform::CloseFolder(folder);
}

}  // namespace

namespace {

// Whether a file handle still reads: a closed one fails.
bool StillOpen(platform::FileHandle file) {
  char byte = 0;
  return platform::ReadAt(file, 0, &byte, 1) == 1;
}

// Files closed together are closed, and none between them: the ones left
// out lie between closed ones, so that a close of a whole range of handles
// would take them too.
TEST_F(PlatformTest, ClosingReadFilesClosesThoseGivenAndNoOther) {
  Write("f", "x");
  platform::FileHandle files[7];
  for (platform::FileHandle& file : files) {
    file = platform::OpenForReading(Path("f").c_str());
    ASSERT_TRUE(platform::IsOpen(file));
  }
  // Out of order on purpose: the call sorts them.
  platform::FileHandle closing[] = {files[5], files[0], files[3], files[2], files[6]};
  platform::CloseReadFiles(closing, 5);
  for (int k : {0, 2, 3, 5, 6}) {
    EXPECT_FALSE(StillOpen(files[k])) << k;
  }
  for (int k : {1, 4}) {
    EXPECT_TRUE(StillOpen(files[k])) << k;
  }
  platform::CloseFile(files[1]);
  platform::CloseFile(files[4]);
}

// The write-behind works on copies of the handles: each file stays the
// caller's to write and close, more files than it holds at once wait their
// turn, and its end leaves no descriptor open.
TEST_F(PlatformTest, AFileHandedToTheWriteBehindStaysTheCallers) {
  // Counted on POSIX only: under Wine the host's own descriptors come and go.
  const auto open_count = [] {
    if (platform::kPathSeparator != '/') return std::ptrdiff_t{0};
    std::error_code error;
    fs::directory_iterator entries("/proc/self/fd", error);
    return error ? std::ptrdiff_t{0} : std::distance(entries, fs::directory_iterator());
  };
  const auto before = open_count();
  platform::WriteBehind behind;
  platform::BeginWriteBehind(behind);
  for (int k = 0; k < 10; ++k) {
    const std::string name = "f" + std::to_string(k);
    platform::FileHandle file = OpenToWrite(Path(name));
    ASSERT_TRUE(platform::IsOpen(file));
    ASSERT_TRUE(platform::WriteAt(file, 0, "first", 5));
    platform::StartWriteBack(behind, file, 0, 5);
    EXPECT_TRUE(platform::WriteAt(file, 5, " then", 5)) << name;
    EXPECT_TRUE(platform::CloseFile(file)) << name;
  }
  platform::EndWriteBehind(behind);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(Read("f" + std::to_string(k)), "first then");
  EXPECT_EQ(open_count(), before);
}

// A batch keeps its files open until it is full or closed. (A closed
// handle's number may come back with the next open: each check comes
// before any further open.)
TEST_F(PlatformTest, AClosingBatchClosesWhenFullOrAsked) {
  Write("f", "x");
  ClosingBatch batch;
  std::vector<platform::FileHandle> full;
  for (std::size_t k = 0; k < kClosingBatchSize; ++k) {
    full.push_back(platform::OpenForReading(Path("f").c_str()));
    ASSERT_TRUE(platform::IsOpen(full.back()));
    if (k + 1 == kClosingBatchSize) {
      EXPECT_TRUE(StillOpen(full.front())) << "closed before the batch was full";
    }
    CloseSoon(batch, full.back());
  }
  for (platform::FileHandle file : full) {
    EXPECT_FALSE(StillOpen(file));
  }
  EXPECT_EQ(batch.count, 0u);

  std::vector<platform::FileHandle> partial;
  for (int k = 0; k < 3; ++k) {
    partial.push_back(platform::OpenForReading(Path("f").c_str()));
    CloseSoon(batch, partial.back());
  }
  for (platform::FileHandle file : partial) {
    EXPECT_TRUE(StillOpen(file));
  }
  CloseBatch(batch);
  EXPECT_EQ(batch.count, 0u);
  for (platform::FileHandle file : partial) {
    EXPECT_FALSE(StillOpen(file));
  }
}

// A file opened by its name within a folder held open: the same file and
// facts as by its whole path, and where the platform holds the folder, the
// path before the name is not looked up again.
TEST_F(PlatformTest, AFileIsOpenedByNameWithinAHeldFolder) {
  fs::create_directories(Path("set"));
  const std::string directory_part = Path("set") + platform::kPathSeparator;
  const std::string path = directory_part + "abc.zip.2";
  std::ofstream(path, std::ios::binary) << "twelve bytes";
  const platform::Folder folder = platform::OpenFolder(directory_part.c_str());
  const platform::FolderPath member{folder, path.c_str(), directory_part.size()};

  platform::FileFacts facts{};
  platform::FileHandle file = platform::OpenForReading(member, &facts);
  ASSERT_TRUE(platform::IsOpen(file));
  EXPECT_EQ(facts.kind, platform::FileKind::kRegular);
  EXPECT_EQ(facts.size, 12u);
  platform::CloseFile(file);
  file = platform::OpenToCopy(member);
  ASSERT_TRUE(platform::IsOpen(file));
  char bytes[12] = {};
  EXPECT_EQ(platform::ReadAt(file, 0, bytes, sizeof bytes), 12);
  EXPECT_EQ(std::string(bytes, sizeof bytes), "twelve bytes");
  platform::CloseFile(file);

  if (!platform::IsOpen(folder.handle)) GTEST_SKIP() << "whole paths on this platform";
  // Moved away under the held folder, the file is still found by its name.
  fs::rename(Path("set"), Path("moved"));
  file = platform::OpenToCopy(member);
  EXPECT_TRUE(platform::IsOpen(file));
  if (platform::IsOpen(file)) platform::CloseFile(file);
  platform::CloseFolder(folder);
}

// A folder that cannot be opened leaves the whole path in use.
TEST_F(PlatformTest, WithoutTheFolderTheWholePathIsUsed) {
  Write("f", "x");
  const platform::Folder missing = platform::OpenFolder((Path("missing") + "/").c_str());
  EXPECT_FALSE(platform::IsOpen(missing.handle));
  const std::string path = Path("f");
  platform::FileHandle file = platform::OpenToCopy(platform::FolderPath{missing, path.c_str(), 0});
  EXPECT_TRUE(platform::IsOpen(file));
  if (platform::IsOpen(file)) platform::CloseFile(file);
}

}  // namespace
