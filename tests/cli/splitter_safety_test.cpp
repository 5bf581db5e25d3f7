// The splitter and the user's data under links, special files, full disks
// and signals: the input and every file outside the set's folder stay as
// they were, nothing waits for ever on a FIFO or a device, and no damaged
// or half-written set binds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench.h"
#include "expected_text.h"

namespace {

using namespace expected::splitter;
namespace fs = std::filesystem;
using harness::Bench;
using harness::ProgramRun;
using harness::RunOutcome;
using harness::Special;

// The start of a run at size 512 from the command line, up to the measuring.
const std::string kStart = SizeFromCommandLine("512") + kMeasured;
// What the joiner says of a set whose segment 1 has no signature.
const std::string kNoSet = expected::joiner::Console(expected::joiner::kNotFirst);

std::string AskedAndAccepted(const Bench& bench) {
  return Asked(bench.bin + "abc.zip.1") + kAccepted;
}

// ===========================================================================
// The splitter never writes its input, nor through a link.

// 1100 bytes at 512: segments 512, 512, 93.
struct SplitLink {
  const char* name;
  int segment;         // where the link lies
  bool hard;           // a hard link, else a symbolic one
  std::string target;  // under data/; "abc.zip" is the input
  bool target_exists;  // false: a dangling link
  bool refused;        // the input reached by a segment's name
};

void PrintTo(const SplitLink& c, std::ostream* out) { *out << c.name; }

class SplitterLinkTest : public ::testing::TestWithParam<SplitLink> {};

TEST_P(SplitterLinkTest, LeavesTheLinkedFileAlone) {
  const SplitLink& c = GetParam();
  Bench bench;
  const std::string input = bench.Input(1100);
  const std::string target = bench.data + c.target;
  if (c.target != "abc.zip" && c.target_exists) harness::WriteFile(target, "outside the set");
  const std::string before = c.target_exists ? harness::ReadFile(target) : "";
  const std::string segment = bench.bin + "abc.zip." + std::to_string(c.segment);
  if (c.hard) {
    fs::create_hard_link(target, segment);
  } else {
    fs::create_symlink(target, segment);
  }
  // At segment 1 the question comes first (a dangling link counts too).
  const bool asks = c.segment == 1;
  RunOutcome outcome = harness::Run(asks ? harness::Answering(bench.Splitter()) : bench.Splitter());

  const std::string asked = asks ? AskedAndAccepted(bench) : "";
  if (c.refused) {
    EXPECT_EQ(outcome.exit_status, 1);
    const std::string written = asks ? "" : Writing("abc.zip", c.segment - 1) + " Done!";
    EXPECT_EQ(outcome.output, Console(kStart + asked + written +
                                      Error(expected::ThenPath(kSegmentIsInput, segment))));
    // What was written before does not bind: segment 1 has no signature.
    if (!asks) {
      RunOutcome join = bench.JoinSplitterSet();
      EXPECT_EQ(join.exit_status, 1);
      EXPECT_EQ(join.output, kNoSet);
      EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip"));
    }
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, Console(kStart + asked + SplitWritten("abc.zip", bench.bin, 3)));
    EXPECT_TRUE(testkit::IsRegular(segment));
    RunOutcome join = bench.JoinSplitterSet();
    EXPECT_EQ(join.exit_status, 0);
    EXPECT_TRUE(harness::ReadFile(bench.bin + "abc.zip") == input);
  }
  EXPECT_TRUE(harness::ReadFile(bench.data + "abc.zip") == input) << "the input changed";
  if (c.target_exists) {
    EXPECT_EQ(harness::ReadFile(target), before);
  } else {
    EXPECT_FALSE(harness::Exists(target));
  }
}

INSTANTIATE_TEST_SUITE_P(
    SplitterSafety, SplitterLinkTest,
    ::testing::Values(SplitLink{"HardLinkToTheInputAtSegmentOne", 1, true, "abc.zip", true, true},
                      SplitLink{"HardLinkToTheInputAtSegmentThree", 3, true, "abc.zip", true, true},
                      SplitLink{"SymlinkToTheInputAtSegmentOne", 1, false, "abc.zip", true, false},
                      SplitLink{"SymlinkToTheInputAtSegmentThree", 3, false, "abc.zip", true,
                                false},
                      SplitLink{"SymlinkOutsideAtSegmentTwo", 2, false, "outside", true, false},
                      SplitLink{"DanglingSymlinkAtSegmentTwo", 2, false, "never", false, false},
                      SplitLink{"DanglingSymlinkAtSegmentOne", 1, false, "never", false, false},
                      SplitLink{"HardLinkOutsideAtSegmentTwo", 2, true, "outside", true, false}),
    [](const ::testing::TestParamInfo<SplitLink>& info) { return info.param.name; });

// A link to a device at a segment's name is a name like any other: it is
// replaced, and the device never sees a byte.
TEST(SplitterLinks, ALinkToADeviceIsReplacedNotWrittenThrough) {
  Bench bench;
  bench.Input(1100);
  fs::create_symlink("/dev/full", bench.bin + "abc.zip.2");
  RunOutcome outcome = harness::Run(bench.Splitter());
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output, Console(kStart + SplitWritten("abc.zip", bench.bin, 3)));
  EXPECT_TRUE(testkit::IsRegular(bench.bin + "abc.zip.2"));
}

// ===========================================================================
// A split that fails or is cut short leaves no set that binds.

// 20000 bytes at 8192 make 8192, 8192, 3633; 30000 bytes make four
// segments. The program folder is a small disk with room for two segments
// (or, over an older set, no room beyond what that set holds).
class SplitterFullDiskTest : public ::testing::TestWithParam<bool> {};

TEST_P(SplitterFullDiskTest, FailsInSegmentThreeAndLeavesNothingThatBinds) {
  const bool older_set = GetParam();
  Bench bench;
  harness::SmallDisk disk(bench.bin.substr(0, bench.bin.size() - 1));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  bench.LinkPrograms();
  ProgramRun run = bench.Splitter({"abc.zip", "8192"});
  std::string asked;
  bench.Input(20000, 1);
  if (older_set) {
    ASSERT_EQ(harness::Run(run).exit_status, 0);
    bench.Input(30000, 2);
    disk.LeaveFree(0);
    run = harness::Answering(run);
    asked = AskedAndAccepted(bench);
  } else {
    disk.LeaveFree(4);
  }
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("8192") + kMeasured + asked + Writing("abc.zip", 3) +
                    Error("cannot write file '" + bench.bin + "abc.zip.3'")));

  const auto before = bench.Tree();
  RunOutcome join = bench.JoinSplitterSet();
  EXPECT_EQ(join.exit_status, 1);
  EXPECT_EQ(join.output, kNoSet);
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(SplitterSafety, SplitterFullDiskTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OverAnOlderSet" : "InAnEmptyFolder";
                         });

// Held while it writes (segments 1 and 2 done, segment 3 made but empty):
// a set read meanwhile is refused; once the run ends the same set binds.
TEST(SplitterHeld, ASetStillBeingWrittenDoesNotBind) {
  Bench bench;
  const std::string input = bench.Input(1100);
  harness::HeldRun held(bench.Splitter(),
                        expected::kSplitterBanner + kStart + Writing("abc.zip", 2) + " Done!", "");
  ASSERT_TRUE(held.Held());
  RunOutcome early = bench.JoinSplitterSet();
  EXPECT_EQ(early.exit_status, 1);
  EXPECT_EQ(early.output, kNoSet);
  EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip"));

  RunOutcome split = held.Finish();
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_EQ(split.output, Console(kStart + SplitWritten("abc.zip", bench.bin, 3)));
  EXPECT_EQ(bench.JoinSplitterSet().exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(bench.bin + "abc.zip") == input);
}

// Interrupted while it replaces an older set: segment 1 is new, the rest
// old; the mixture never binds.
TEST(SplitterHeld, AnInterruptedReplacementDoesNotBind) {
  Bench bench;
  bench.Input(1100, 1);
  ASSERT_EQ(harness::Run(bench.Splitter()).exit_status, 0);
  bench.Input(1100, 2);
  const std::string prefix =
      expected::kSplitterBanner + kStart + AskedAndAccepted(bench) + Writing("abc.zip", 2);
  harness::HeldRun held(bench.Splitter(), prefix, "y");
  ASSERT_TRUE(held.Held());
  held.SignalAndWait(SIGINT);
  RunOutcome split = held.Finish();
  EXPECT_EQ(split.signal, SIGINT);
  EXPECT_EQ(split.output, prefix);

  const auto before = bench.Tree();
  RunOutcome join = bench.JoinSplitterSet();
  EXPECT_EQ(join.exit_status, 1);
  EXPECT_EQ(join.output, kNoSet);
  EXPECT_EQ(bench.Tree(), before);
}

// ===========================================================================
// Special files at the input, segment 1, segment 2 and Trenzik.ini.

harness::SpecialEnding Refused(const std::string& body) {
  return {Console(body), 1, true, true};
}

const harness::SpecialRole kSplitterRoles[] = {
    {"SplitterInput", "data/abc.zip", [](const Bench&) {},
     [](const Bench&, Special kind) {
       if (!harness::IsAFile(kind)) return Refused(SizeFromCommandLine("512") + kNotFound);
       return Refused(SizeFromCommandLine("512") +
                      Error(expected::ThenPath(kInputNotRegular, "abc.zip")));
     }},
    {"SplitterFirstSegment", "bin/abc.zip.1", [](const Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special kind) {
       // A link is replaced, after the question; a folder cannot be.
       if (harness::IsLink(kind)) {
         return Refused(kStart + Asked(bench.bin + "abc.zip.1") + "\xff\n\n" + expected::kAborted);
       }
       if (kind == Special::kFolder) return Refused(kStart + Error("cannot create file"));
       return Refused(kStart +
                      Error(expected::ThenPath(kSegmentNotRegular, bench.bin + "abc.zip.1")));
     }},
    {"SplitterLaterSegment", "bin/abc.zip.2", [](const Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special kind) -> harness::SpecialEnding {
       if (harness::IsLink(kind)) {
         return {Console(kStart + SplitWritten("abc.zip", bench.bin, 3)), 0, false, false};
       }
       const std::string written = kStart + Writing("abc.zip", 1) + " Done!";
       if (kind == Special::kFolder) {
         return {Console(written + "\nERROR:\n cannot create file\n"), 1, false, true};
       }
       return {Console(written +
                       Error(expected::ThenPath(kSegmentNotRegular, bench.bin + "abc.zip.2"))),
               1, false, true};
     }},
    // No such file is read: it counts as absent and the run goes on.
    {"SplitterIni", "bin/Trenzik.ini", [](const Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special) -> harness::SpecialEnding {
       return {Console(kStart + SplitWritten("abc.zip", bench.bin, 3)), 0, false, true};
     }},
};

class SplitterSpecialFileTest : public ::testing::TestWithParam<harness::SpecialCase> {};

TEST_P(SplitterSpecialFileTest, EndsAtOnceAndLeavesItAlone) {
  harness::CheckSpecialCase(GetParam(), /*joiner=*/false);
}

INSTANTIATE_TEST_SUITE_P(SplitterSafety, SplitterSpecialFileTest,
                         harness::EverySpecialIn(kSplitterRoles), harness::SpecialCaseName);

// A loop device over a file, detached when the object goes.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& backing_path) {
    const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int backing = open(backing_path.c_str(), O_RDONLY | O_CLOEXEC);
    // Another test may take the free device first: ask again.
    for (int attempt = 0; attempt < 5 && control >= 0 && backing >= 0 && fd_ < 0; ++attempt) {
      const int number = ioctl(control, LOOP_CTL_GET_FREE);
      if (number < 0) break;
      path_ = "/dev/loop" + std::to_string(number);
      fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd_ >= 0 && ioctl(fd_, LOOP_SET_FD, backing) != 0) {
        close(fd_);
        fd_ = -1;
      }
    }
    if (backing >= 0) close(backing);
    if (control >= 0) close(control);
  }
  ~LoopDevice() {
    if (fd_ < 0) return;
    ioctl(fd_, LOOP_CLR_FD, 0);
    close(fd_);
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  bool attached() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// A disk image is a fair thing to cut: a loop device over a file splits and
// binds back into that file.
TEST(SplitterInput, ABlockDeviceIsCutByItsSize) {
  Bench bench;
  const std::string image = harness::RandomBytes(3 * 65536, 11);
  harness::WriteFile(bench.folder / "image", image);
  const LoopDevice loop(bench.folder / "image");
  if (!loop.attached()) GTEST_SKIP() << "no loop device could be attached here";
  fs::create_symlink(loop.path(), bench.data + "abc.zip");
  EXPECT_EQ(harness::Run(bench.Splitter({"abc.zip", "65536"})).exit_status, 0);
  EXPECT_EQ(bench.JoinSplitterSet().exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(bench.bin + "abc.zip") == image);
}

}  // namespace
