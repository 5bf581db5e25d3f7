// Both Windows programs under Wine, without a console: Windows paths with
// drive letters and backslashes, the configuration file beside Trenzik.exe,
// the directory-entry lookup (letter case, wildcards, drive-relative names),
// Shift_JIS names under the code page 932, standard output redirected into
// a pipe, where every line must end in one LF byte, and host links at the
// splitter's segment names, which are replaced and never written through.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "expected_text.h"
#include "wine_driver.h"

namespace {

using wine::Build;
using wine::Drive;
using wine::Folder;
namespace joiner = expected::joiner;
namespace splitter = expected::splitter;

const std::string kHyoUtf8 = "\xe8\xa1\xa8";  // the character as Wine names it on disk
const std::string kHyoSjis = "\x95\x5c";      // the same character in the code page 932

std::vector<std::string> SegmentFiles(const std::string& unix_folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(unix_folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".zip.") != std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Segment 1 from the end of its header, then the other segments whole.
std::string Rejoined(const std::string& unix_base, int count, std::size_t header_length) {
  std::string joined = harness::ReadFile(unix_base + ".1").substr(header_length);
  for (int k = 2; k <= count; ++k) joined += harness::ReadFile(unix_base + "." + std::to_string(k));
  return joined;
}

// ---------------------------------------------------------------------------
// A file goes through the splitter and back through the joiner, with the
// programs and the data in folders of drive C: and of drive Z:.

struct RoundTripCase {
  Build build;
  Drive drive;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
  *os << c.build.name << (c.drive == Drive::kC ? " on C:" : " on Z:");
}

class WineRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(WineRoundTripTest, SplitsIntoTheProgramFolderAndJoinsBackByteForByte) {
  const Build& build = GetParam().build;
  Folder folder(build, GetParam().drive);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
  // Written by a Windows editor: CR LF line ends.
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "; for the test\r\nsize=1000\r\n");
  harness::MakeFolder(folder.Unix("data"));
  const std::string source = harness::RandomBytes(2500, 7);
  harness::WriteFile(folder.Unix("data/abc.zip"), source);

  // 17 header bytes + 2500 data bytes in segments of 1000: 1000, 1000, 517.
  harness::RunOutcome split =
      wine::Run(build, wine::Plainly(folder.Dos("tools/Trenzik.exe"), {folder.Dos("data/abc.zip")},
                                     folder.Unix("data")));
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_EQ(split.output, expected::kSplitterBanner + splitter::IniRead(1000) + splitter::kMeasured +
                              splitter::SplitWritten("abc.zip", folder.Dos("tools") + "\\", 3) +
                              expected::kClosing);
  EXPECT_EQ(split.output.find('\r'), std::string::npos) << "a CR reached the redirected output";
  ASSERT_EQ(SegmentFiles(folder.Unix("tools")),
            (std::vector<std::string>{"abc.zip.1", "abc.zip.2", "abc.zip.3"}));
  EXPECT_EQ(std::filesystem::file_size(folder.Unix("tools/abc.zip.1")), 1000u);
  EXPECT_EQ(std::filesystem::file_size(folder.Unix("tools/abc.zip.2")), 1000u);
  EXPECT_EQ(std::filesystem::file_size(folder.Unix("tools/abc.zip.3")), 517u);
  const std::string header = expected::SegmentHeader(3, "abc.zip");
  EXPECT_EQ(harness::ReadFile(folder.Unix("tools/abc.zip.1")).substr(0, header.size()), header);
  EXPECT_EQ(Rejoined(folder.Unix("tools/abc.zip"), 3, header.size()), source);

  // The joiner writes into the folder of the segments.
  harness::RunOutcome join =
      wine::Run(build, wine::Plainly(folder.Dos("tools/Morvel.exe"),
                                     {folder.Dos("tools/abc.zip.1")}, folder.Unix("data")));
  EXPECT_EQ(join.exit_status, 0);
  EXPECT_EQ(join.output, expected::kJoinerBanner +
                             joiner::Joined("abc.zip", "abc.zip", folder.Dos("tools") + "\\", 3) +
                             expected::kClosing);
  EXPECT_EQ(harness::ReadFile(folder.Unix("tools/abc.zip")), source);
}

INSTANTIATE_TEST_SUITE_P(Builds, WineRoundTripTest,
                         ::testing::Values(RoundTripCase{wine::kX86, Drive::kC},
                                           RoundTripCase{wine::kX86, Drive::kZ},
                                           RoundTripCase{wine::kX64, Drive::kC},
                                           RoundTripCase{wine::kX64, Drive::kZ}),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                           return wine::BuildName(info.param.build) +
                                  (info.param.drive == Drive::kC ? "_DriveC" : "_DriveZ");
                         });

// ---------------------------------------------------------------------------
// Where the splitter looks for Trenzik.ini: the folder of its own path as
// typed, or, started by its bare name, the root of the current drive.

class WineConfigurationTest : public ::testing::TestWithParam<Build> {};

TEST_P(WineConfigurationTest, IsReadBesideTheProgramAndNotFromTheCurrentFolder) {
  const Build& build = GetParam();
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=700\r\n");
  harness::MakeFolder(folder.Unix("data"));
  harness::WriteFile(folder.Unix("data/Trenzik.ini"), "size=900\r\n");
  harness::WriteFile(folder.Unix("data/abc.zip"), harness::RandomBytes(1000, 3));

  harness::RunOutcome run = wine::Run(
      build, wine::Plainly(folder.Dos("tools/Trenzik.exe"), {"abc.zip"}, folder.Unix("data")));
  EXPECT_EQ(run.exit_status, 0);
  // (7 + 1000 + 10) / 700 + 1 = 2 segments.
  EXPECT_EQ(run.output, expected::kSplitterBanner + splitter::IniRead(700) + splitter::kMeasured +
                            splitter::SplitWritten("abc.zip", folder.Dos("tools") + "\\", 2) +
                            expected::kClosing);
}

TEST_P(WineConfigurationTest, StartedByItsBareNameItReadsTheRootOfTheCurrentDrive) {
  const Build& build = GetParam();
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=900\r\n");
  harness::WriteFile(folder.Unix("tools/abc.zip"), harness::RandomBytes(1000, 4));
  // C:\Trenzik.ini of this build's own prefix; no other test uses that root.
  const std::string root_ini = wine::PrefixFolder(build) + "/drive_c/Trenzik.ini";
  harness::WriteFile(root_ini, "size=600\r\n");

  // Wine hands a program started from Unix its full path as word 0; a
  // command prompt passes on the name as typed.
  harness::RunOutcome run =
      wine::Run(build, wine::Plainly("cmd", {"/c", "Trenzik", "abc.zip"}, folder.Unix("tools")));
  std::filesystem::remove(root_ini);
  EXPECT_EQ(run.exit_status, 0);
  // The program folder is empty: the set lands in the current folder.
  EXPECT_EQ(run.output, expected::kSplitterBanner + splitter::IniRead(600) + splitter::kMeasured +
                            splitter::SplitWritten("abc.zip", "", 2) + expected::kClosing);
  EXPECT_TRUE(harness::Exists(folder.Unix("tools/abc.zip.2")));
}

INSTANTIATE_TEST_SUITE_P(Builds, WineConfigurationTest, ::testing::Values(wine::kX86, wine::kX64),
                         [](const ::testing::TestParamInfo<Build>& info) {
                           return wine::BuildName(info.param);
                         });

// ---------------------------------------------------------------------------
// The splitter's lookup of its file argument. The stored name is the entry's
// name as the folder holds it; the file itself is opened by the argument as
// typed, so a pattern or a folder passes the lookup and then is not found.

struct SplitterLookupCase {
  const char* name;
  const char* typed;  // relative to the data folder, which is current
  bool full_path;     // typed after the data folder's full Windows path
  bool found;         // the lookup finds an entry
  bool opened;        // the typed path opens as a file
};

void PrintTo(const SplitterLookupCase& c, std::ostream* os) { *os << c.name; }

class WineSplitterLookupTest
    : public ::testing::TestWithParam<std::tuple<Build, SplitterLookupCase>> {};

TEST_P(WineSplitterLookupTest, NamesTheSetAfterTheStoredName) {
  const Build& build = std::get<0>(GetParam());
  const SplitterLookupCase& c = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=512\n");
  harness::MakeFolder(folder.Unix("data/sub"));
  const std::string source = harness::RandomBytes(600, 5);
  harness::WriteFile(folder.Unix("data/abc.zip"), source);

  const std::string typed = c.full_path ? folder.Dos("data") + "\\" + c.typed : c.typed;
  harness::RunOutcome run = wine::Run(
      build, wine::Plainly(folder.Dos("tools/Trenzik.exe"), {typed}, folder.Unix("data")));

  std::string expected_output = expected::kSplitterBanner;
  if (!c.found) {
    expected_output += splitter::kNotFound;
  } else if (!c.opened) {
    expected_output += splitter::IniRead(512) + splitter::kNotFound;
  } else {
    expected_output += splitter::IniRead(512) + splitter::kMeasured +
                       splitter::SplitWritten("abc.zip", folder.Dos("tools") + "\\", 2);
  }
  EXPECT_EQ(run.output, expected_output + expected::kClosing);
  EXPECT_EQ(run.exit_status, c.opened ? 0 : 1);
  if (c.opened) {
    // Named in the folder's letter case, whatever was typed.
    EXPECT_EQ(SegmentFiles(folder.Unix("tools")),
              (std::vector<std::string>{"abc.zip.1", "abc.zip.2"}));
    const std::string header = expected::SegmentHeader(2, "abc.zip");
    EXPECT_EQ(harness::ReadFile(folder.Unix("tools/abc.zip.1")).substr(0, header.size()), header);
    EXPECT_EQ(Rejoined(folder.Unix("tools/abc.zip"), 2, header.size()), source);
  } else {
    EXPECT_TRUE(SegmentFiles(folder.Unix("tools")).empty());
  }
}

const SplitterLookupCase kSplitterLookupCases[] = {
    {"OtherLetterCase", "ABC.ZIP", true, true, true},
    {"OtherLetterCaseRelative", "Abc.Zip", false, true, true},
    {"DriveRelative", "C:abc.zip", false, true, true},
    {"DriveRelativeOtherCase", "c:ABC.zip", false, true, true},
    {"DotSegments", "sub\\..\\abc.zip", true, true, true},
    {"StarPattern", "*.zip", true, true, false},
    {"QuestionMarkPattern", "a?c.ZIP", false, true, false},
    {"Folder", "sub", true, true, false},
    {"Missing", "abd.zip", true, false, false},
    {"PatternMatchingNothing", "*.rar", false, false, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, WineSplitterLookupTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::ValuesIn(kSplitterLookupCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---------------------------------------------------------------------------
// The joiner's lookup: the set is looked for in the folder of the argument as
// typed, under the found name without its last byte.

struct JoinerLookupCase {
  const char* name;
  const char* typed;  // relative to the segments' folder, which is current
  bool full_path;
  bool in_current_folder;  // the argument has no directory part
};

void PrintTo(const JoinerLookupCase& c, std::ostream* os) { *os << c.name; }

class WineJoinerLookupTest : public ::testing::TestWithParam<std::tuple<Build, JoinerLookupCase>> {
};

TEST_P(WineJoinerLookupTest, FindsTheSetAndWritesItsStoredName) {
  const Build& build = std::get<0>(GetParam());
  const JoinerLookupCase& c = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
  // A set of 3 made by hand: the stored name abc.zip, the data 1500 bytes.
  const std::string source = harness::RandomBytes(1500, 6);
  const std::string header = expected::SegmentHeader(3, "abc.zip");
  const std::string whole = header + source;
  harness::MakeFolder(folder.Unix("set"));
  harness::WriteFile(folder.Unix("set/abc.zip.1"), whole.substr(0, 600));
  harness::WriteFile(folder.Unix("set/abc.zip.2"), whole.substr(600, 600));
  harness::WriteFile(folder.Unix("set/abc.zip.3"), whole.substr(1200));

  const std::string typed = c.full_path ? folder.Dos("set") + "\\" + c.typed : c.typed;
  harness::RunOutcome run =
      wine::Run(build, wine::Plainly(folder.Dos("tools/Morvel.exe"), {typed}, folder.Unix("set")));
  const std::string shown_folder = c.in_current_folder ? "" : folder.Dos("set") + "\\";
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, expected::kJoinerBanner +
                            joiner::Joined("abc.zip", "abc.zip", shown_folder, 3) +
                            expected::kClosing);
  EXPECT_EQ(harness::ReadFile(folder.Unix("set/abc.zip")), source);
}

const JoinerLookupCase kJoinerLookupCases[] = {
    {"OtherLetterCase", "ABC.ZIP.1", true, false},     {"StarPattern", "*.1", true, false},
    {"QuestionMarkPattern", "abc.zip.?", true, false}, {"LaterSegment", "abc.zip.3", true, false},
    {"DriveRelative", "C:abc.zip.1", false, true},     {"BareName", "abc.zip.1", false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, WineJoinerLookupTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::ValuesIn(kJoinerLookupCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---------------------------------------------------------------------------
// Links that the host made at segment names. Wine shows a link to a file as
// a plain file and a link to a folder as a reparse point; either way the
// link is replaced by the new segment or, at a folder, the run stops there.
// Nothing outside the program folder is written, made or removed.

enum class LinkTo { kOutsideFile, kOutsideFolder, kNothing };

struct HostLinkCase {
  const char* name;
  std::vector<std::pair<int, LinkTo>> links;  // segment number, what it points to
  int written;  // segments written before the run stops; 3 is the whole set
};

void PrintTo(const HostLinkCase& c, std::ostream* os) { *os << c.name; }

class WineHostLinkTest : public ::testing::TestWithParam<std::tuple<Build, HostLinkCase>> {};

TEST_P(WineHostLinkTest, ReplacesTheLinkAndLeavesItsTargetAlone) {
  const Build& build = std::get<0>(GetParam());
  const HostLinkCase& c = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=512\r\n");
  harness::MakeFolder(folder.Unix("data"));
  harness::MakeFolder(folder.Unix("outside"));
  // 17 header bytes + 1200 data bytes in segments of 512: 512, 512, 193.
  const std::string source = harness::RandomBytes(1200, 14);
  harness::WriteFile(folder.Unix("data/abc.zip"), source);

  bool asks = false;
  for (const auto& [k, to] : c.links) {
    const std::string target = folder.Unix("outside/target" + std::to_string(k));
    if (to == LinkTo::kOutsideFile) harness::WriteFile(target, "precious " + std::to_string(k));
    if (to == LinkTo::kOutsideFolder) harness::MakeFolder(target);
    std::filesystem::create_symlink(target, folder.Unix("tools/abc.zip." + std::to_string(k)));
    asks = asks || (k == 1 && to != LinkTo::kNothing);
  }

  wine::Start start;
  start.program = folder.Dos("tools/Trenzik.exe");
  start.arguments = {folder.Dos("data/abc.zip")};
  start.working_directory = folder.Unix("data");
  start.console = true;
  if (asks) start.steps.push_back(harness::Step{splitter::kQuestion, "y", nullptr});
  start.steps.push_back(harness::Step{expected::kClosingPrompt, "x", nullptr});
  harness::RunOutcome run = wine::Run(build, start);

  std::string expected_output = expected::kSplitterBanner + splitter::IniRead(512) + splitter::kMeasured;
  if (asks) {
    expected_output += " '" + folder.Dos("tools/abc.zip.1") + "' already exists.\n" +
                       splitter::kQuestion + "y\n\n Overwriting all existing files.\n\n";
  }
  if (c.written == 3) {
    expected_output += splitter::SplitWritten("abc.zip", folder.Dos("tools") + "\\", 3);
  } else {
    expected_output += " writing header.... Done!";
    for (int k = 1; k <= c.written; ++k) {
      expected_output += "\n writing to abc.zip." + std::to_string(k) + ".... Done!";
    }
    expected_output += "\nERROR:\n cannot create file\n";
  }
  EXPECT_TRUE(run.steps_done);
  EXPECT_EQ(run.output, expected_output + expected::kClosing);
  EXPECT_EQ(run.exit_status, c.written == 3 ? 0 : 1);

  for (const auto& [k, to] : c.links) {
    const std::string target = folder.Unix("outside/target" + std::to_string(k));
    const std::string segment = folder.Unix("tools/abc.zip." + std::to_string(k));
    if (to == LinkTo::kOutsideFile) {
      EXPECT_EQ(harness::ReadFile(target), "precious " + std::to_string(k));
    } else if (to == LinkTo::kOutsideFolder) {
      EXPECT_TRUE(std::filesystem::is_directory(target) && std::filesystem::is_empty(target))
          << target << ": no longer an empty folder";
    } else {
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target))) << target;
    }
    // A segment written is a file of its own; the one the run stopped at is
    // still the link.
    EXPECT_EQ(std::filesystem::is_symlink(segment), k > c.written) << segment;
  }
  std::vector<std::string> outside;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Unix("outside"))) {
    outside.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(outside.size(), std::count_if(c.links.begin(), c.links.end(), [](const auto& link) {
                              return link.second != LinkTo::kNothing;
                            }));
  // The segments written hold the set; until the whole set is there, the
  // signature of segment 1 stays zeroed.
  std::string header = expected::SegmentHeader(3, "abc.zip");
  if (c.written < 3) header.replace(0, 5, std::string(5, '\0'));
  const std::string whole = header + source;
  for (int k = 1; k <= c.written; ++k) {
    EXPECT_EQ(harness::ReadFile(folder.Unix("tools/abc.zip." + std::to_string(k))),
              whole.substr(512 * (k - 1), 512))
        << k;
  }
  // No short-lived file is left beside the segments.
  EXPECT_EQ(SegmentFiles(folder.Unix("tools")).size(), 3u);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(folder.Unix("tools"))) {
    ++entries;
  }
  EXPECT_EQ(entries, 5u);  // Trenzik.exe, Trenzik.ini, abc.zip.1 .. 3
}

const HostLinkCase kHostLinkCases[] = {
    {"FilesAtOneAndTwoAFolderAtThree",
     {{1, LinkTo::kOutsideFile}, {2, LinkTo::kOutsideFile}, {3, LinkTo::kOutsideFolder}},
     2},
    {"DanglingAtTwo", {{2, LinkTo::kNothing}}, 3},
};

INSTANTIATE_TEST_SUITE_P(Cases, WineHostLinkTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::ValuesIn(kHostLinkCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---------------------------------------------------------------------------
// Shift_JIS names under the code page 932: the character 0x95 0x5C ends in
// the separator byte, which must not be taken for one.

struct ShiftJisCase {
  const char* name;
  const char* program;  // the splitter's path below the test folder
  const char* source;   // the source file's path below the test folder
};

void PrintTo(const ShiftJisCase& c, std::ostream* os) { *os << c.name; }

class WineShiftJisTest : public ::testing::TestWithParam<std::tuple<Build, ShiftJisCase>> {};

std::string Utf8(std::string path) {
  for (std::size_t at = path.find('@'); at != std::string::npos; at = path.find('@')) {
    path.replace(at, 1, kHyoUtf8);
  }
  return path;
}

TEST_P(WineShiftJisTest, KeepsTheDoubleByteCharacterWhole) {
  ASSERT_TRUE(wine::LocaleInstalled(wine::kJapaneseLocale))
      << "localedef -i ja_JP -f UTF-8 ja_JP.UTF-8";
  const Build& build = std::get<0>(GetParam());
  const ShiftJisCase& c = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  const std::string program = Utf8(c.program);
  const std::string program_folder = program.substr(0, program.rfind('/'));
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix(program));
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix(program_folder + "/Morvel.exe"));
  harness::WriteFile(folder.Unix(program_folder + "/Trenzik.ini"), "size=512\r\n");
  const std::string source = harness::RandomBytes(600, 8);
  const std::string source_path = folder.Unix(Utf8(c.source));
  harness::MakeFolder(std::filesystem::path(source_path).parent_path());
  harness::WriteFile(source_path, source);

  // What the programs see and print: the code page 932 bytes.
  const std::string stored = kHyoSjis + ".zip";
  std::string program_folder_dos = folder.Dos(program_folder) + "\\";
  const std::size_t hyo = program_folder_dos.find(kHyoUtf8);
  if (hyo != std::string::npos) program_folder_dos.replace(hyo, kHyoUtf8.size(), kHyoSjis);

  // (6 + 600 + 10) / 512 + 1 = 2 segments.
  harness::RunOutcome split =
      wine::Run(build, wine::Plainly(folder.Dos(program), {folder.Dos(Utf8(c.source))},
                                     folder.Unix(), wine::kJapaneseLocale));
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_EQ(split.output, expected::kSplitterBanner + splitter::IniRead(512) + splitter::kMeasured +
                              splitter::SplitWritten(stored, program_folder_dos, 2) +
                              expected::kClosing);
  const std::string base = folder.Unix(program_folder + "/" + kHyoUtf8 + ".zip");
  const std::string header = expected::SegmentHeader(2, stored);
  ASSERT_TRUE(harness::Exists(base + ".1"));
  EXPECT_EQ(harness::ReadFile(base + ".1").substr(0, header.size()), header);
  EXPECT_EQ(Rejoined(base, 2, header.size()), source);

  // The joiner, given segment 1 by its full path, finds the set beside it
  // and writes the stored name there.
  harness::RunOutcome join =
      wine::Run(build, wine::Plainly(folder.Dos(program_folder + "/Morvel.exe"),
                                     {folder.Dos(program_folder + "/" + kHyoUtf8 + ".zip.1")},
                                     folder.Unix(), wine::kJapaneseLocale));
  EXPECT_EQ(join.exit_status, 0);
  EXPECT_EQ(join.output, expected::kJoinerBanner +
                             joiner::Joined(stored, stored, program_folder_dos, 2) +
                             expected::kClosing);
  EXPECT_EQ(harness::ReadFile(base), source);
}

// '@' stands for the character 0x95 0x5C.
const ShiftJisCase kShiftJisCases[] = {
    {"ProgramNamedWithTheCharacter", "tools/@.exe", "data/@.zip"},
    {"FolderNamedWithTheCharacter", "@/Trenzik.exe", "data/@.zip"},
    {"FolderEndingInTheCharacter", "tools@/Trenzik.exe", "@/@.zip"},
};

INSTANTIATE_TEST_SUITE_P(Cases, WineShiftJisTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::ValuesIn(kShiftJisCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---------------------------------------------------------------------------
// Redirected standard output carries the bytes of each format unchanged:
// no CR before an LF, and the joiner's two-byte space (0x81 0x40) under
// either code page.

struct NotFoundCase {
  const char* name;
  const char* locale;
};

void PrintTo(const NotFoundCase& c, std::ostream* os) { *os << c.name; }

class WineNotFoundTest : public ::testing::TestWithParam<std::tuple<Build, NotFoundCase>> {};

TEST_P(WineNotFoundTest, BothProgramsPrintTheirLinesByteForByte) {
  const Build& build = std::get<0>(GetParam());
  const char* locale = std::get<1>(GetParam()).locale;
  if (std::string(locale) == wine::kJapaneseLocale) {
    ASSERT_TRUE(wine::LocaleInstalled(locale)) << "localedef -i ja_JP -f UTF-8 ja_JP.UTF-8";
  }
  Folder folder(build, Drive::kZ);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("Trenzik.exe"));
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("Morvel.exe"));

  harness::RunOutcome split = wine::Run(
      build, wine::Plainly(folder.Dos("Trenzik.exe"), {"missing.zip"}, folder.Unix(), locale));
  EXPECT_EQ(split.exit_status, 1);
  EXPECT_EQ(split.output, expected::kSplitterBanner + splitter::kNotFound + expected::kClosing);

  harness::RunOutcome join = wine::Run(
      build, wine::Plainly(folder.Dos("Morvel.exe"), {"missing.zip.1"}, folder.Unix(), locale));
  EXPECT_EQ(join.exit_status, 1);
  EXPECT_EQ(join.output, expected::kJoinerBanner + joiner::kNotFound + expected::kAborted +
                             expected::kClosing);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineNotFoundTest,
    ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                       ::testing::Values(NotFoundCase{"CodePage1252", wine::kWesternLocale},
                                         NotFoundCase{"CodePage932", wine::kJapaneseLocale})),
    [](const auto& info) {
      return wine::BuildName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

}  // namespace
