// The joiner and the user's data under links, special files, full disks,
// file-size limits and signals: the set, an existing output and every file
// outside the set's folder stay as they were, nothing waits for ever on a
// FIFO or a device, and no damaged set binds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench.h"
#include "expected_text.h"

namespace {

namespace fs = std::filesystem;
using harness::Bench;
using harness::ProgramRun;
using harness::RunOutcome;
using harness::Special;
using harness::SpecialEnding;
using namespace expected::joiner;

// The set `base`1 .. for abc.zip with these segment sizes (segment 1's
// includes its header); returns the bound file's bytes.
std::string WriteSet(const std::string& base, std::int32_t count,
                     const std::vector<std::size_t>& sizes) {
  return testkit::WriteSet(base, count, "abc.zip", testkit::PiecesForSizes(sizes, "abc.zip", 5));
}

std::string Bound(int count) { return BoundAll("abc.zip.", count); }
std::string Done(int count) { return Summary("abc.zip", "set/", count); }
// The progress up to the dots of segment k, where a copy stops in it.
std::string BindingUpTo(int k) {
  return Bound(k - 1) + " Currently binding abc.zip." + std::to_string(k) + "....";
}
const std::string kAccepted = Asked("set/abc.zip", "y") + kOverwriting;

// ===========================================================================
// A member changed after the check, while the joiner waits at its question:
// the copy notices, from what it reads, and the old output stays.

struct ChangeCase {
  const char* name;
  int member;                                      // 2 or 3 of {700, 700, 300}
  std::function<bool(const std::string&)> change;  // given the member's path; false: not done
  const char* detail;                              // the failure, before the name
  bool opened = true;  // the member could still be opened: its line was shown
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

bool Resize(const std::string& path, std::size_t size) {
  std::error_code failed;
  fs::resize_file(path, size, failed);
  return !failed;
}

bool Replace(const std::string& path, Special kind) {
  return fs::remove(path) && harness::MakeSpecial(kind, path);
}

class JoinerChangedMemberTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(JoinerChangedMemberTest, EndsTheRunAndKeepsTheOldOutput) {
  const ChangeCase& c = GetParam();
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  const std::string member = bench.set + "abc.zip." + std::to_string(c.member);
  ProgramRun run = harness::Answering(bench.Joiner());
  bool changed = false;
  std::set<std::string> after_change;
  run.steps[0].action = [&](pid_t) {
    changed = c.change(member);
    after_change = bench.Tree();
  };
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(changed);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(
      outcome.output,
      Console(kAccepted + (c.opened ? BindingUpTo(c.member) : Bound(c.member - 1)) +
              Failure(std::string(c.detail) + " 'abc.zip." + std::to_string(c.member) + "'")));
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "old contents");
  EXPECT_EQ(bench.Tree(), after_change) << "a temporary file was left";
}

const char kChanged[] = "The segment file changed after the set was checked:";

INSTANTIATE_TEST_SUITE_P(
    JoinerSafety, JoinerChangedMemberTest,
    ::testing::Values(
        ChangeCase{"LastGrewByOneByte", 3, [](const std::string& p) { return Resize(p, 301); },
                   kChanged},
        ChangeCase{"LastGrewMuch", 3, [](const std::string& p) { return Resize(p, 200000); },
                   kChanged},
        ChangeCase{"LastShrank", 3, [](const std::string& p) { return Resize(p, 299); }, kChanged},
        ChangeCase{"LastEmptied", 3, [](const std::string& p) { return Resize(p, 0); }, kChanged},
        ChangeCase{"MiddleGrew", 2, [](const std::string& p) { return Resize(p, 701); }, kChanged},
        ChangeCase{"MiddleShrank", 2, [](const std::string& p) { return Resize(p, 699); },
                   kChanged},
        ChangeCase{"LastBecameAFifo", 3,
                   [](const std::string& p) { return Replace(p, Special::kFifo); },
                   "cannot read file"},
        ChangeCase{"LastBecameAFolder", 3,
                   [](const std::string& p) { return Replace(p, Special::kFolder); },
                   "cannot read file"},
        ChangeCase{"LastWentAway", 3, [](const std::string& p) { return fs::remove(p); },
                   "cannot open file", false}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return info.param.name; });

// ===========================================================================
// The joiner checks the sizes before it makes anything.

struct SizeCase {
  const char* name;
  std::int32_t count;
  std::vector<std::size_t> sizes;
  std::vector<int> misfits;  // listed, in this order; none: the set binds
};

void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }

class JoinerSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(JoinerSizeTest, RefusesSizesTheFormatRulesOut) {
  const SizeCase& c = GetParam();
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", c.count, c.sizes);
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner());
  const int count = static_cast<int>(c.sizes.size());
  if (c.misfits.empty()) {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, Console(Bound(count) + Done(count)));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
    return;
  }
  std::string listed;
  for (int k : c.misfits) {
    listed += "\n ERROR :  File size does not fit the set. - abc.zip." + std::to_string(k);
  }
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            Console(listed + "\n\n  File(s) listed above are damaged or incomplete. \n\n" +
                    expected::kAborted));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(
    JoinerSafety, JoinerSizeTest,
    ::testing::Values(SizeCase{"MiddleOneByteShort", 4, {600, 599, 600, 300}, {2}},
                      SizeCase{"MiddleOneByteLong", 4, {600, 600, 601, 300}, {3}},
                      SizeCase{"LastAsLongAsSegmentOne", 4, {600, 600, 600, 600}, {4}},
                      SizeCase{"SeveralInAscendingOrder", 4, {600, 100, 600, 900}, {2, 4}},
                      // Segment 1 is the odd one out once the members after it agree.
                      SizeCase{"SegmentOneShort", 3, {500, 600, 300}, {1}},
                      SizeCase{"SegmentOneShortOfMany", 5, {500, 600, 600, 600, 300}, {1}},
                      SizeCase{"SegmentOneLong", 4, {700, 600, 600, 300}, {1}},
                      SizeCase{"SegmentOneShortLastTooLong", 4, {500, 600, 600, 600}, {1, 4}},
                      SizeCase{"SegmentOneShortMiddlesDisagree", 4, {500, 600, 599, 300}, {2, 3}},
                      SizeCase{"TwoSegmentsLastTooLong", 2, {600, 600}, {2}},
                      SizeCase{"ValidSet", 4, {600, 600, 600, 1}, {}},
                      SizeCase{"ValidWithAnEmptyLast", 3, {600, 600, 0}, {}},
                      SizeCase{"ValidSingleSegment", 1, {600}, {}}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

// Missing members are listed first; sizes are judged once all are there.
TEST(JoinerSizes, MissingMembersComeFirst) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 4, {600, 599, 600, 300});
  fs::remove(bench.set + "abc.zip.3");
  RunOutcome outcome = harness::Run(bench.Joiner());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(MissingListed(MissingLine("abc.zip.3"))));
}

// ===========================================================================
// The joiner's output: never written through a link, and the old one kept
// until the new one is whole.

struct OutputLink {
  const char* name;
  bool hard;
  bool target_exists;
};

class JoinerOutputLinkTest : public ::testing::TestWithParam<OutputLink> {};

TEST_P(JoinerOutputLinkTest, ReplacesTheLinkNotItsTarget) {
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  const std::string outside = bench.data + "outside";
  if (GetParam().target_exists) harness::WriteFile(outside, "outside the set");
  if (GetParam().hard) {
    fs::create_hard_link(outside, bench.set + "abc.zip");
  } else {
    fs::create_symlink(outside, bench.set + "abc.zip");
  }
  RunOutcome outcome = harness::Run(harness::Answering(bench.Joiner()));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output, Console(kAccepted + Bound(3) + Done(3)));
  EXPECT_TRUE(testkit::IsRegular(bench.set + "abc.zip"));
  EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  if (GetParam().target_exists) {
    EXPECT_EQ(harness::ReadFile(outside), "outside the set");
  } else {
    EXPECT_FALSE(harness::Exists(outside));
  }
}

INSTANTIATE_TEST_SUITE_P(JoinerSafety, JoinerOutputLinkTest,
                         ::testing::Values(OutputLink{"Symlink", false, true},
                                           OutputLink{"DanglingSymlink", false, false},
                                           OutputLink{"HardLink", true, true}),
                         [](const ::testing::TestParamInfo<OutputLink>& info) {
                           return info.param.name;
                         });

// A dangling link is asked about like any file; refused, nothing is made.
TEST(JoinerOutputLinks, ADanglingLinkIsAskedAbout) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 2, {700, 300});
  fs::create_symlink(bench.data + "never", bench.set + "abc.zip");
  RunOutcome outcome = harness::Run(bench.Joiner());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(Asked("set/abc.zip", "\xff") + expected::kAborted));
  EXPECT_FALSE(harness::Exists(bench.data + "never"));
}

// Sets or clears the immutable flag, which stops writes by root too; false
// where the file system has no such flag.
bool SetImmutable(const std::string& path, bool immutable) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return done;
}

// An old output that may not be written is not replaced by the rename
// either: the run ends where writing it in place would have failed.
TEST(JoinerOutputs, AnOutputThatMayNotBeWrittenIsNotReplaced) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 2, {700, 300});
  const std::string old_bytes = harness::RandomBytes(500, 42);
  harness::WriteFile(bench.set + "abc.zip", old_bytes);
  if (!SetImmutable(bench.set + "abc.zip", true)) GTEST_SKIP() << "no immutable flag here";
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(harness::Answering(bench.Joiner()));
  SetImmutable(bench.set + "abc.zip", false);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(kAccepted + Failure("cannot create file")));
  EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == old_bytes);
  EXPECT_EQ(bench.Tree(), before);
}

// The set folder on a small disk that holds the set and an old output but
// not a second output beside it (segments 16384, 16384, 8192: 10 pages of
// output). Without the old output the same room suffices.
class JoinerFullDiskTest : public ::testing::TestWithParam<bool> {};

TEST_P(JoinerFullDiskTest, KeepsTheOldOutput) {
  const bool old_output = GetParam();
  Bench bench;
  harness::SmallDisk disk(bench.set.substr(0, bench.set.size() - 1));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {16384, 16384, 8192});
  const std::string old_bytes = harness::RandomBytes(data.size(), 99);
  if (old_output) {
    harness::WriteFile(bench.set + "abc.zip", old_bytes);
    disk.LeaveFree(6);
  } else {
    disk.LeaveFree(16);
  }
  const auto before = bench.Tree();
  RunOutcome outcome =
      harness::Run(old_output ? harness::Answering(bench.Joiner()) : bench.Joiner());
  if (old_output) {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output, Console(kAccepted + BindingUpTo(2) +
                                      Failure(expected::ThenPath(kNoRoomForBoth, "set/abc.zip"))));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == old_bytes);
    EXPECT_EQ(bench.Tree(), before);
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  }
}

INSTANTIATE_TEST_SUITE_P(JoinerSafety, JoinerFullDiskTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OverAnOldOutput" : "WithoutOne";
                         });

// Ended by a signal in the middle of the copy, after y: the old output is
// as it was and the temporary file is gone.
class JoinerSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(JoinerSignalTest, KeepsTheOldOutputAndRemovesTheTemporaryFile) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  const auto before = bench.Tree();
  const std::string prefix = expected::kJoinerBanner + kAccepted + BindingUpTo(2);
  harness::HeldRun held(bench.Joiner(), prefix, "y");
  ASSERT_TRUE(held.Held());
  EXPECT_EQ(bench.Tree().size(), before.size() + 1) << "no temporary file";
  held.SignalAndWait(GetParam());
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.signal, GetParam());
  EXPECT_EQ(outcome.output, prefix);
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "old contents");
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(JoinerSafety, JoinerSignalTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1,
                                           SIGALRM, SIGXCPU),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// What happens to the set's folder and the output's name while the copy is
// held: a file saved at a name that was free is kept and the run fails; a
// folder renamed carries the whole run with it and strands nothing.
TEST(JoinerHeld, AFileSavedAtAFreeOutputNameIsKept) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::HeldRun held(bench.Joiner(), expected::kJoinerBanner + BindingUpTo(2), "");
  ASSERT_TRUE(held.Held());
  harness::WriteFile(bench.set + "abc.zip", "saved meanwhile");
  const auto before_end = bench.Tree();
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            Console(Bound(3) + Failure("Another file took the output file's name meanwhile; "
                                       "it is kept:\n  'set/abc.zip'")));
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "saved meanwhile");
  EXPECT_EQ(bench.Tree().size(), before_end.size() - 1) << "the temporary file stays";
}

TEST(JoinerHeld, AFolderRenamedDuringTheCopyStrandsNothing) {
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::HeldRun held(bench.Joiner(), expected::kJoinerBanner + BindingUpTo(2), "");
  ASSERT_TRUE(held.Held());
  const std::string moved = bench.folder / "moved/";
  fs::rename(bench.set, moved);
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output, Console(Bound(3) + Done(3)));
  EXPECT_EQ(harness::ReadFile(moved + "abc.zip"), data);
  EXPECT_EQ(std::distance(fs::directory_iterator(moved), fs::directory_iterator()), 4);
}

// The replaced output keeps its mode and owner; a set of many members binds
// under a low limit of open files; an output path near the limit binds.
TEST(JoinerOutputs, AReplacedOutputKeepsItsModeAndOwner) {
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  ASSERT_EQ(chmod((bench.set + "abc.zip").c_str(), 0600), 0);
  ASSERT_EQ(chown((bench.set + "abc.zip").c_str(), 4321, 8765), 0) << "the tests run as root";
  RunOutcome outcome = harness::Run(harness::Answering(bench.Joiner()));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), data);
  struct stat info {};
  ASSERT_EQ(stat((bench.set + "abc.zip").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 8765u);
}

TEST(JoinerOutputs, ManyMembersBindUnderALowOpenFileLimit) {
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", 600, testkit::SetSizes(600, 600, 100));
  ProgramRun run = bench.Joiner();
  run.open_files_limit = 16;
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 0) << outcome.output.substr(0, 400);
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), data);
}

TEST(JoinerOutputs, AnOutputPathOfFiveHundredBytesBinds) {
  Bench bench;
  // set/ + folders of 99 bytes + a last one, then abc.zip: 500 bytes in all.
  std::string relative = "set/";
  while (relative.size() + 100 + 7 <= 500) relative += std::string(99, 'd') + "/";
  relative += std::string(500 - 7 - 1 - relative.size(), 'e') + "/";
  ASSERT_EQ(relative.size() + 7, 500u);
  fs::create_directories(bench.folder / relative);
  const std::string data = WriteSet(bench.folder / (relative + "abc.zip."), 2, {700, 300});
  RunOutcome outcome = harness::Run(bench.Joiner({relative + "abc.zip.1"}));
  EXPECT_EQ(outcome.exit_status, 0) << outcome.output;
  EXPECT_EQ(harness::ReadFile(bench.folder / (relative + "abc.zip")), data);
}

// The output's name is another name of a member (a hard link): refused
// before the question, whichever member it is; an old output that merely
// has a member's length is asked about and replaced as usual.
class JoinerOutputLinkedToMemberTest : public ::testing::TestWithParam<int> {};

TEST_P(JoinerOutputLinkedToMemberTest, IsRefusedAndTheSetKept) {
  Bench bench;
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  const int member = GetParam();
  if (member > 0) {
    fs::create_hard_link(bench.set + "abc.zip." + std::to_string(member), bench.set + "abc.zip");
  } else {
    harness::WriteFile(bench.set + "abc.zip", std::string(700, 'o'));
  }
  std::map<std::string, std::string> before;
  for (int k = 1; k <= 3; ++k) {
    const std::string path = bench.set + "abc.zip." + std::to_string(k);
    before[path] = harness::ReadFile(path);
  }
  RunOutcome outcome =
      harness::Run(member > 0 ? bench.Joiner() : harness::Answering(bench.Joiner()));
  if (member > 0) {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(
        outcome.output,
        Console(Failure("The output file would replace a segment of the set: 'set/abc.zip'")));
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, Console(kAccepted + Bound(3) + Done(3)));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  }
  for (const auto& [path, bytes] : before) EXPECT_TRUE(harness::ReadFile(path) == bytes) << path;
}

INSTANTIATE_TEST_SUITE_P(JoinerSafety, JoinerOutputLinkedToMemberTest,
                         ::testing::Values(1, 2, 3, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 0 ? std::string("OldFileOfAMembersLength")
                                                  : "LinkToSegment" + std::to_string(info.param);
                         });

// ===========================================================================
// Special files at segment 1, a member and the output.

SpecialEnding Refused(const std::string& body) { return {Console(body), 1, true, true}; }

const harness::SpecialRole kJoinerRoles[] = {
    {"JoinerSegmentOne", "set/abc.zip.1", [](const Bench&) {},
     [](const Bench&, Special) { return Refused(kNotFirst); }},
    {"JoinerMember", "set/abc.zip.2",
     [](const Bench& bench) {
       WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
       fs::remove(bench.set + "abc.zip.2");
     },
     [](const Bench&, Special) { return Refused(MissingListed(MissingLine("abc.zip.2"))); }},
    {"JoinerOutput", "set/abc.zip",
     [](const Bench& bench) {
       WriteSet(bench.set + "abc.zip.", 2, {700, 300});
     },
     [](const Bench&, Special kind) {
       // A link is replaced, after the question; a folder cannot be.
       if (harness::IsLink(kind)) return Refused(Asked("set/abc.zip", "\xff") + expected::kAborted);
       if (kind == Special::kFolder) return Refused(Failure("cannot create file"));
       return Refused(Failure(expected::ThenPath(kOutputNotRegular, "set/abc.zip")));
     }},
};

class JoinerSpecialFileTest : public ::testing::TestWithParam<harness::SpecialCase> {};

TEST_P(JoinerSpecialFileTest, EndsAtOnceAndLeavesItAlone) {
  harness::CheckSpecialCase(GetParam(), /*joiner=*/true);
}

INSTANTIATE_TEST_SUITE_P(JoinerSafety, JoinerSpecialFileTest, harness::EverySpecialIn(kJoinerRoles),
                         harness::SpecialCaseName);

}  // namespace
