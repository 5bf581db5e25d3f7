// The user's data under links, special files, full disks, file-size limits
// and signals: the input, an existing output and every file outside the
// set's folder stay as they were, nothing waits for ever on a FIFO or a
// device, and no damaged or half-written set binds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "expected_text.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;

// ---------------------------------------------------------------------------
// Sets, folders and the texts around them.

// Writes the set `base`1 .. `base`N for abc.zip with the given segment
// sizes (segment 1's includes its header); returns the bound file's bytes.
std::string WriteSet(const std::string& base, std::int32_t count,
                     const std::vector<std::size_t>& sizes, unsigned seed = 5) {
  std::string data;
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    const std::string header = k == 0 ? expected::SegmentHeader(count, "abc.zip") : "";
    const std::string piece = harness::RandomBytes(sizes[k] - header.size(), seed + unsigned(k));
    harness::WriteFile(base + std::to_string(k + 1), header + piece);
    data += piece;
  }
  return data;
}

std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    paths.insert(entry.path().string());
  }
  return paths;
}

bool IsRegular(const std::string& path) { return fs::is_regular_file(fs::symlink_status(path)); }

const std::string kJoinerNotFirst =
    "\n ERROR : \n"
    "\n  \"The file is not segmented with Trenzik.exe\" \n   or\n"
    "  \"The file is not the first segmented file.\"  \n\n"
    "  The first segmented file has extention of \".1\" \n\n" +
    expected::kAborted;

std::string JoinerConsole(const std::string& body) {
  return expected::kJoinerBanner + body + expected::kClosing;
}
std::string JoinerFailure(const std::string& detail) {
  return "\n ERROR : \n\n  " + detail + "\n\n" + expected::kAborted;
}
std::string Bound(int from, int to) {
  std::string lines;
  for (int k = from; k <= to; ++k) lines += " Currently binding abc.zip." + std::to_string(k) + ".... Done!\n";
  return lines;
}
std::string JoinerSummary(int total) {
  return "\n Successfully binded!\n\n Result:\n  Name of file: abc.zip\n"
         "  Folder the file was created:\n    set/\n  Total number of files binded: " +
         std::to_string(total) + "\n";
}
std::string JoinerAsked(const std::string& echo) {
  return " 'set/abc.zip' already exists.\n Ok to overwrite file(y/n)? " + echo + "\n\n";
}
const std::string kJoinerAccepted = JoinerAsked("y") + "\n Overwriting existing file.\n";

// The splitter's lines before its run proper: size 512 from the command
// line, no Trenzik.ini.
const std::string kSplitStart =
    expected::kSplitterBanner + " [segment size] is set to: 512\n\n" +
    "\n 'Trenzik.ini' file not found..\n [segment size] is set from the command line: 512\n\n";
const std::string kMeasured = " Calculating file size.... Done!\n";

std::string Writing(int count) {
  std::string text = " writing header.... Done!";
  for (int k = 1; k <= count; ++k) {
    text += (k > 1 ? " Done!" : "") + std::string("\n writing to abc.zip.") + std::to_string(k) +
            "....";
  }
  return text;
}
std::string SplitSummary(const std::string& bin, int count) {
  return " Done!\n\n Successfully segmented!\n\n Reult :\n  Name of the file segmented: abc.zip\n"
         "  Name of the folder segmented files created :\n    " +
         bin + "\n  Total number of segment files: " + std::to_string(count) +
         "\n\n To bind the segmented files, just drag&drop 'abc.zip.1' file on 'Morvel' "
         "(Morvel.exe) program.\n";
}
std::string SplitterError(const std::string& detail) { return "\nERROR:\n  " + detail + "\n"; }
std::string SplitterAsked(const std::string& bin) {
  return " '" + bin + "abc.zip.1' already exists.\n Ok to overwrite all files(y/n)? y\n\n"
         " Overwriting all existing files.\n\n";
}

// Both programs in bin/, the input in data/ (the current folder), a set
// for the joiner in set/. Runs start in data/ for the splitter and in the
// top folder for the joiner.
struct Bench {
  harness::TempFolder folder;
  std::string bin = folder / "bin/";
  std::string data = folder / "data/";
  std::string set = folder / "set/";
  Bench() {
    harness::MakeFolder(bin);
    harness::MakeFolder(data);
    harness::MakeFolder(set);
  }
  void LinkPrograms() {
    fs::create_symlink(TRENZIK_PROGRAM, bin + "Trenzik");
    fs::create_symlink(MORVEL_PROGRAM, bin + "Morvel");
  }
  ProgramRun Splitter(const std::string& input = "abc.zip") const {
    ProgramRun run;
    run.executable = bin + "Trenzik";
    run.words = {run.executable, input, "512"};
    run.working_directory = data;
    run.timeout_seconds = 10;  // nothing here may wait for long
    return run;
  }
  ProgramRun Joiner(const std::string& argument) const {
    ProgramRun run;
    run.executable = bin + "Morvel";
    run.words = {run.executable, argument};
    run.working_directory = folder.path();
    run.timeout_seconds = 10;
    return run;
  }
  std::string Input(std::size_t size, unsigned seed = 7) const {
    std::string bytes = harness::RandomBytes(size, seed);
    harness::WriteFile(data + "abc.zip", bytes);
    return bytes;
  }
  // The bound file of the splitter's set in bin/, through the joiner.
  RunOutcome JoinSplitterSet() const { return harness::Run(Joiner("bin/abc.zip.1")); }
};

ProgramRun Answering(ProgramRun run, const std::string& question_end) {
  run.terminal = true;
  run.steps = {Step{question_end, "y", nullptr}, Step{expected::kClosingPrompt, "x", nullptr}};
  return run;
}

// ---------------------------------------------------------------------------
// A small tmpfs, to run a disk full where the test wants it.

class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path) : path_(path) {
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=2m") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Leaves exactly `pages` pages free: a file that holds them is made, the
  // rest of the disk filled, and that file removed again.
  void LeaveFree(std::size_t pages) const {
    const std::string room = path_ + "/.room";
    if (pages > 0) harness::WriteFile(room, std::string(pages * 4096, 'r'));
    const int fd = open((path_ + "/.filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    if (pages > 0) fs::remove(room);
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

// ---------------------------------------------------------------------------
// A run held at a known point: standard output is a one-page pipe that
// already holds all but the bytes of `prefix`, so the program prints
// exactly `prefix` and then blocks in its next write until the test drains
// the pipe. Keys for the terminal are typed before the program starts; a
// key typed early answers the next key wait.

class HeldRun {
 public:
  HeldRun(const ProgramRun& run, const std::string& prefix, const std::string& keys) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    capacity_ = fcntl(fds[1], F_SETPIPE_SZ, 4096);
    if (capacity_ <= 0 || static_cast<std::size_t>(capacity_) <= prefix.size()) {
      throw std::runtime_error("pipe size");
    }
    padding_ = static_cast<std::size_t>(capacity_) - prefix.size();
    const std::string padding(padding_, '#');
    if (write(fds[1], padding.data(), padding.size()) != static_cast<ssize_t>(padding.size())) {
      throw std::runtime_error("padding");
    }
    pid_ = keys.empty() ? fork() : forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (keys.empty()) setsid();
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      dup2(fds[1], 1);
      close(fds[0]);
      for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGQUIT, SIGPIPE, SIGUSR1,
                                SIGALRM, SIGXCPU}) {
        signal(signal_number, SIG_DFL);
      }
      const struct rlimit no_core {0, 0};  // a SIGQUIT leaves no core file behind
      setrlimit(RLIMIT_CORE, &no_core);
      if (chdir(run.working_directory.c_str()) != 0) _exit(126);
      std::vector<char*> words;
      for (const std::string& word : run.words) words.push_back(const_cast<char*>(word.c_str()));
      words.push_back(nullptr);
      execv(run.executable.c_str(), words.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
    if (master_ >= 0 && write(master_, keys.data(), keys.size()) < 0) {
      throw std::runtime_error("keys");
    }
  }
  ~HeldRun() {
    if (pid_ > 0 && !finished_ && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (master_ >= 0) close(master_);
  }

  // Waits until the pipe is full: the program has printed the prefix.
  bool Held() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int queued = 0;
      if (ioctl(out_, FIONREAD, &queued) == 0 && queued == capacity_) return true;
      if (waitpid(pid_, nullptr, WNOHANG) != 0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  // Sends a signal and waits for the end it brings, before anything is
  // drained: a write that found room again could otherwise complete first.
  void SignalAndWait(int signal_number) {
    kill(pid_, signal_number);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
  }

  // Drains the pipe (and the terminal) to the end and reaps the program.
  RunOutcome Finish() {
    RunOutcome outcome;
    std::string all;
    char block[4096];
    for (;;) {
      if (master_ >= 0) {
        const int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        while (read(master_, block, sizeof block) > 0) {
        }
      }
      const ssize_t got = read(out_, block, sizeof block);
      if (got <= 0) break;
      all.append(block, static_cast<std::size_t>(got));
    }
    if (!reaped_) waitpid(pid_, &status_, 0);
    const int status = status_;
    finished_ = true;
    outcome.output = all.substr(padding_);
    if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int master_ = -1;
  int capacity_ = 0;
  std::size_t padding_ = 0;
  bool finished_ = false;
  bool reaped_ = false;
  int status_ = 0;
};

// ===========================================================================
// The splitter never writes its input, nor through a link.

// 1100 bytes at 512: segments 512, 512, 93.
struct SplitLink {
  const char* name;
  int segment;              // where the link lies
  bool hard;                // a hard link, else a symbolic one
  std::string target;       // under data/; "abc.zip" is the input
  bool target_exists;       // false: a dangling link
  bool refused;             // the input reached by a segment's name
};

void PrintTo(const SplitLink& c, std::ostream* out) { *out << c.name; }

class SplitterLinkTest : public ::testing::TestWithParam<SplitLink> {};

TEST_P(SplitterLinkTest, LeavesTheLinkedFileAlone) {
  const SplitLink& c = GetParam();
  Bench bench;
  bench.LinkPrograms();
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
  ProgramRun run = bench.Splitter();
  // At segment 1 the question comes first (a dangling link counts too).
  if (c.segment == 1) run = Answering(run, "(y/n)? ");
  RunOutcome outcome = harness::Run(run);

  const std::string asked = c.segment == 1 ? SplitterAsked(bench.bin) : "";
  if (c.refused) {
    EXPECT_EQ(outcome.exit_status, 1);
    const std::string written = c.segment == 1 ? "" : Writing(c.segment - 1) + " Done!";
    EXPECT_EQ(outcome.output,
              kSplitStart + kMeasured + asked + written +
                  SplitterError(expected::ThenPath(expected::splitter::kSegmentIsInput, segment)) +
                  expected::kClosing);
    // What was written before does not bind: segment 1 has no signature.
    if (c.segment > 1) {
      RunOutcome join = bench.JoinSplitterSet();
      EXPECT_EQ(join.exit_status, 1);
      EXPECT_EQ(join.output, JoinerConsole(kJoinerNotFirst));
      EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip"));
    }
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, kSplitStart + kMeasured + asked + Writing(3) +
                                  SplitSummary(bench.bin, 3) + expected::kClosing);
    EXPECT_TRUE(IsRegular(segment));
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
    DataSafety, SplitterLinkTest,
    ::testing::Values(SplitLink{"HardLinkToTheInputAtSegmentOne", 1, true, "abc.zip", true, true},
                      SplitLink{"HardLinkToTheInputAtSegmentThree", 3, true, "abc.zip", true, true},
                      SplitLink{"SymlinkToTheInputAtSegmentOne", 1, false, "abc.zip", true, false},
                      SplitLink{"SymlinkToTheInputAtSegmentThree", 3, false, "abc.zip", true, false},
                      SplitLink{"SymlinkOutsideAtSegmentTwo", 2, false, "outside", true, false},
                      SplitLink{"DanglingSymlinkAtSegmentTwo", 2, false, "never", false, false},
                      SplitLink{"DanglingSymlinkAtSegmentOne", 1, false, "never", false, false},
                      SplitLink{"HardLinkOutsideAtSegmentTwo", 2, true, "outside", true, false}),
    [](const ::testing::TestParamInfo<SplitLink>& info) { return info.param.name; });

// A link to a device at a segment's name is a name like any other: it is
// replaced, and the device never sees a byte.
TEST(SplitterLinks, ALinkToADeviceIsReplacedNotWrittenThrough) {
  Bench bench;
  bench.LinkPrograms();
  const std::string input = bench.Input(1100);
  fs::create_symlink("/dev/full", bench.bin + "abc.zip.2");
  RunOutcome outcome = harness::Run(bench.Splitter());
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output,
            kSplitStart + kMeasured + Writing(3) + SplitSummary(bench.bin, 3) + expected::kClosing);
  EXPECT_TRUE(IsRegular(bench.bin + "abc.zip.2"));
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
  SmallDisk disk(bench.bin.substr(0, bench.bin.size() - 1));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  bench.LinkPrograms();
  ProgramRun run = bench.Splitter();
  run.words[2] = "8192";
  std::string asked;
  if (older_set) {
    bench.Input(20000, 1);
    ASSERT_EQ(harness::Run(run).exit_status, 0);
    bench.Input(30000, 2);
    disk.LeaveFree(0);
    run = Answering(run, "(y/n)? ");
    asked = SplitterAsked(bench.bin);
  } else {
    bench.Input(20000, 1);
    disk.LeaveFree(4);
  }
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.output,
            expected::kSplitterBanner + " [segment size] is set to: 8192\n\n" +
                "\n 'Trenzik.ini' file not found..\n"
                " [segment size] is set from the command line: 8192\n\n" +
                kMeasured + asked + Writing(3) +
                SplitterError("cannot write file '" + bench.bin + "abc.zip.3'") + expected::kClosing);

  const auto before = Tree(bench.folder.path());
  RunOutcome join = bench.JoinSplitterSet();
  EXPECT_EQ(join.exit_status, 1);
  EXPECT_EQ(join.output, JoinerConsole(kJoinerNotFirst));
  EXPECT_EQ(Tree(bench.folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(DataSafety, SplitterFullDiskTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OverAnOlderSet" : "InAnEmptyFolder";
                         });

// Held while it writes (segments 1 and 2 done, segment 3 made but empty):
// a set read meanwhile is refused; once the run ends the same set binds.
TEST(SplitterHeld, ASetStillBeingWrittenDoesNotBind) {
  Bench bench;
  bench.LinkPrograms();
  const std::string input = bench.Input(1100);
  const std::string prefix = kSplitStart + kMeasured + Writing(2) + " Done!";
  HeldRun held(bench.Splitter(), prefix, "");
  ASSERT_TRUE(held.Held());
  RunOutcome early = bench.JoinSplitterSet();
  EXPECT_EQ(early.exit_status, 1);
  EXPECT_EQ(early.output, JoinerConsole(kJoinerNotFirst));
  EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip"));

  RunOutcome split = held.Finish();
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_EQ(split.output, kSplitStart + kMeasured + Writing(3) + SplitSummary(bench.bin, 3) +
                              expected::kClosing);
  EXPECT_EQ(bench.JoinSplitterSet().exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(bench.bin + "abc.zip") == input);
}

// Interrupted while it replaces an older set: segment 1 is new, the rest
// old; the mixture never binds.
TEST(SplitterHeld, AnInterruptedReplacementDoesNotBind) {
  Bench bench;
  bench.LinkPrograms();
  bench.Input(1100, 1);
  ASSERT_EQ(harness::Run(bench.Splitter()).exit_status, 0);
  bench.Input(1100, 2);
  const std::string prefix = kSplitStart + kMeasured + SplitterAsked(bench.bin) + Writing(2);
  HeldRun held(bench.Splitter(), prefix, "y");
  ASSERT_TRUE(held.Held());
  held.SignalAndWait(SIGINT);
  RunOutcome split = held.Finish();
  EXPECT_EQ(split.signal, SIGINT);
  EXPECT_EQ(split.output, prefix);

  const auto before = Tree(bench.folder.path());
  RunOutcome join = bench.JoinSplitterSet();
  EXPECT_EQ(join.exit_status, 1);
  EXPECT_EQ(join.output, JoinerConsole(kJoinerNotFirst));
  EXPECT_EQ(Tree(bench.folder.path()), before);
}

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
  bench.LinkPrograms();
  const std::string data = WriteSet(bench.set + "abc.zip.", c.count, c.sizes);
  const auto before = Tree(bench.folder.path());
  RunOutcome outcome = harness::Run(bench.Joiner("set/abc.zip.1"));
  const int count = static_cast<int>(c.sizes.size());
  if (c.misfits.empty()) {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, JoinerConsole(Bound(1, count) + JoinerSummary(count)));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
    return;
  }
  std::string listed;
  for (int k : c.misfits) {
    listed += "\n ERROR :  File size does not fit the set. - abc.zip." + std::to_string(k);
  }
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            JoinerConsole(listed + "\n\n  File(s) listed above are damaged or incomplete. \n\n" +
                          expected::kAborted));
  EXPECT_EQ(Tree(bench.folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    DataSafety, JoinerSizeTest,
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

// Missing members are listed as ever; sizes are judged once all are there.
TEST(JoinerSizes, MissingMembersComeFirst) {
  Bench bench;
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 4, {600, 599, 600, 300});
  fs::remove(bench.set + "abc.zip.3");
  RunOutcome outcome = harness::Run(bench.Joiner("set/abc.zip.1"));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, JoinerConsole("\n ERROR :  File not found. - abc.zip.3"
                                          "\n\n  File(s) listed above not found. \n\n" +
                                          expected::kAborted));
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
  bench.LinkPrograms();
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  const std::string outside = bench.data + "outside";
  if (GetParam().target_exists) harness::WriteFile(outside, "outside the set");
  if (GetParam().hard) {
    fs::create_hard_link(outside, bench.set + "abc.zip");
  } else {
    fs::create_symlink(outside, bench.set + "abc.zip");
  }
  RunOutcome outcome = harness::Run(Answering(bench.Joiner("set/abc.zip.1"), "(y/n)? "));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output, JoinerConsole(kJoinerAccepted + Bound(1, 3) + JoinerSummary(3)));
  EXPECT_TRUE(IsRegular(bench.set + "abc.zip"));
  EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  if (GetParam().target_exists) {
    EXPECT_EQ(harness::ReadFile(outside), "outside the set");
  } else {
    EXPECT_FALSE(harness::Exists(outside));
  }
}

INSTANTIATE_TEST_SUITE_P(DataSafety, JoinerOutputLinkTest,
                         ::testing::Values(OutputLink{"Symlink", false, true},
                                           OutputLink{"DanglingSymlink", false, false},
                                           OutputLink{"HardLink", true, true}),
                         [](const ::testing::TestParamInfo<OutputLink>& info) {
                           return info.param.name;
                         });

// A dangling link is asked about like any file; refused, nothing is made.
TEST(JoinerOutputLinks, ADanglingLinkIsAskedAbout) {
  Bench bench;
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 2, {700, 300});
  fs::create_symlink(bench.data + "never", bench.set + "abc.zip");
  RunOutcome outcome = harness::Run(bench.Joiner("set/abc.zip.1"));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, JoinerConsole(JoinerAsked("\xff") + expected::kAborted));
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
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 2, {700, 300});
  const std::string old_bytes = harness::RandomBytes(500, 42);
  harness::WriteFile(bench.set + "abc.zip", old_bytes);
  if (!SetImmutable(bench.set + "abc.zip", true)) GTEST_SKIP() << "no immutable flag here";
  const auto before = Tree(bench.folder.path());
  RunOutcome outcome = harness::Run(Answering(bench.Joiner("set/abc.zip.1"), "(y/n)? "));
  SetImmutable(bench.set + "abc.zip", false);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            JoinerConsole(kJoinerAccepted + "\n ERROR : \n\n  cannot create file\n\n" +
                          expected::kAborted));
  EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == old_bytes);
  EXPECT_EQ(Tree(bench.folder.path()), before);
}

// The set folder on a small disk that holds the set and an old output but
// not a second output beside it (segments 16384, 16384, 8192: 10 pages of
// output). Without the old output the same room suffices.
class JoinerFullDiskTest : public ::testing::TestWithParam<bool> {};

TEST_P(JoinerFullDiskTest, KeepsTheOldOutput) {
  const bool old_output = GetParam();
  Bench bench;
  SmallDisk disk(bench.set.substr(0, bench.set.size() - 1));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  bench.LinkPrograms();
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {16384, 16384, 8192});
  const std::string old_bytes = harness::RandomBytes(data.size(), 99);
  if (old_output) {
    harness::WriteFile(bench.set + "abc.zip", old_bytes);
    disk.LeaveFree(6);
  } else {
    disk.LeaveFree(16);
  }
  const auto before = Tree(bench.folder.path());
  ProgramRun run = bench.Joiner("set/abc.zip.1");
  if (old_output) run = Answering(run, "(y/n)? ");
  RunOutcome outcome = harness::Run(run);
  if (old_output) {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output,
              JoinerConsole(kJoinerAccepted + Bound(1, 1) + " Currently binding abc.zip.2...." +
                            JoinerFailure(expected::ThenPath(expected::joiner::kNoRoomForBoth,
                                                             "set/abc.zip"))));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == old_bytes);
    EXPECT_EQ(Tree(bench.folder.path()), before);
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  }
}

INSTANTIATE_TEST_SUITE_P(DataSafety, JoinerFullDiskTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OverAnOldOutput" : "WithoutOne";
                         });

// Ended by a signal in the middle of the copy, after y: the old output is
// as it was and the temporary file is gone.
class JoinerSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(JoinerSignalTest, KeepsTheOldOutputAndRemovesTheTemporaryFile) {
  Bench bench;
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  const auto before = Tree(bench.folder.path());
  const std::string prefix = expected::kJoinerBanner + kJoinerAccepted + Bound(1, 1) +
                             " Currently binding abc.zip.2....";
  HeldRun held(bench.Joiner("set/abc.zip.1"), prefix, "y");
  ASSERT_TRUE(held.Held());
  EXPECT_EQ(Tree(bench.folder.path()).size(), before.size() + 1) << "no temporary file";
  held.SignalAndWait(GetParam());
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.signal, GetParam());
  EXPECT_EQ(outcome.output, prefix);
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "old contents");
  EXPECT_EQ(Tree(bench.folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(DataSafety, JoinerSignalTest,
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
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  const std::string prefix = expected::kJoinerBanner + Bound(1, 1) +
                             " Currently binding abc.zip.2....";
  HeldRun held(bench.Joiner("set/abc.zip.1"), prefix, "");
  ASSERT_TRUE(held.Held());
  harness::WriteFile(bench.set + "abc.zip", "saved meanwhile");
  const auto before_end = Tree(bench.folder.path());
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            JoinerConsole(Bound(1, 3) + "\n ERROR : \n\n  Another file took the output file's "
                                        "name meanwhile; it is kept:\n  'set/abc.zip'\n\n" +
                          expected::kAborted));
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "saved meanwhile");
  EXPECT_EQ(Tree(bench.folder.path()).size(), before_end.size() - 1) << "the temporary file stays";
}

TEST(JoinerHeld, AFolderRenamedDuringTheCopyStrandsNothing) {
  Bench bench;
  bench.LinkPrograms();
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  const std::string prefix = expected::kJoinerBanner + Bound(1, 1) +
                             " Currently binding abc.zip.2....";
  HeldRun held(bench.Joiner("set/abc.zip.1"), prefix, "");
  ASSERT_TRUE(held.Held());
  const std::string moved = bench.folder / "moved/";
  fs::rename(bench.set, moved);
  RunOutcome outcome = held.Finish();
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output, JoinerConsole(Bound(1, 3) + JoinerSummary(3)));
  EXPECT_EQ(harness::ReadFile(moved + "abc.zip"), data);
  EXPECT_EQ(std::distance(fs::directory_iterator(moved), fs::directory_iterator()), 4);
}

// The replaced output keeps its mode and owner; a set of many members binds
// under a low limit of open files; an output path near the limit binds.
TEST(JoinerOutputs, AReplacedOutputKeepsItsModeAndOwner) {
  Bench bench;
  bench.LinkPrograms();
  const std::string data = WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  ASSERT_EQ(chmod((bench.set + "abc.zip").c_str(), 0600), 0);
  ASSERT_EQ(chown((bench.set + "abc.zip").c_str(), 4321, 8765), 0) << "the tests run as root";
  RunOutcome outcome = harness::Run(Answering(bench.Joiner("set/abc.zip.1"), "(y/n)? "));
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
  bench.LinkPrograms();
  std::vector<std::size_t> sizes(600, 600);
  sizes.back() = 100;
  const std::string data = WriteSet(bench.set + "abc.zip.", 600, sizes);
  ProgramRun run = bench.Joiner("set/abc.zip.1");
  run.open_files_limit = 16;
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 0) << outcome.output.substr(0, 400);
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), data);
}

TEST(JoinerOutputs, AnOutputPathOfFiveHundredBytesBinds) {
  Bench bench;
  bench.LinkPrograms();
  // set/ + folders of 99 bytes + a last one, then abc.zip: 500 bytes in all.
  std::string relative = "set/";
  while (relative.size() + 100 + 7 <= 500) relative += std::string(99, 'd') + "/";
  relative += std::string(500 - 7 - 1 - relative.size(), 'e') + "/";
  ASSERT_EQ(relative.size() + 7, 500u);
  fs::create_directories(bench.folder / relative);
  const std::string data = WriteSet(bench.folder / (relative + "abc.zip."), 2, {700, 300});
  RunOutcome outcome = harness::Run(bench.Joiner(relative + "abc.zip.1"));
  EXPECT_EQ(outcome.exit_status, 0) << outcome.output;
  EXPECT_EQ(harness::ReadFile(bench.folder / (relative + "abc.zip")), data);
}

// The output's name is another name of a member (a hard link): refused
// before the question, whichever member it is; an old output that merely
// has a member's length is asked about and replaced as usual.
class JoinerOutputLinkedToMemberTest : public ::testing::TestWithParam<int> {};

TEST_P(JoinerOutputLinkedToMemberTest, IsRefusedAndTheSetKept) {
  Bench bench;
  bench.LinkPrograms();
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
  const ProgramRun run = bench.Joiner("set/abc.zip.1");
  RunOutcome outcome = harness::Run(member > 0 ? run : Answering(run, "(y/n)? "));
  if (member > 0) {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output,
              JoinerConsole(JoinerFailure(
                  "The output file would replace a segment of the set: 'set/abc.zip'")));
  } else {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, JoinerConsole(kJoinerAccepted + Bound(1, 3) + JoinerSummary(3)));
    EXPECT_TRUE(harness::ReadFile(bench.set + "abc.zip") == data);
  }
  for (const auto& [path, bytes] : before) EXPECT_TRUE(harness::ReadFile(path) == bytes) << path;
}

INSTANTIATE_TEST_SUITE_P(DataSafety, JoinerOutputLinkedToMemberTest, ::testing::Values(1, 2, 3, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 0 ? std::string("OldFileOfAMembersLength")
                                                  : "LinkToSegment" + std::to_string(info.param);
                         });

// ===========================================================================
// A member changed after the check, while the joiner waits at its question:
// the copy notices without asking the member's size again, and the old
// output stays.

struct ChangeCase {
  const char* name;
  int member;                                        // 2 or 3 of {700, 700, 300}
  std::function<void(const std::string&)> change;    // given the member's path
  const char* detail;                                // the failure, before the name
  bool opened = true;  // the member could still be opened: its line was shown
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

void Resize(const std::string& path, std::size_t size) {
  std::string bytes = harness::ReadFile(path);
  bytes.resize(size, 'x');
  harness::WriteFile(path, bytes);
}

class JoinerChangedMemberTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(JoinerChangedMemberTest, EndsTheRunAndKeepsTheOldOutput) {
  const ChangeCase& c = GetParam();
  Bench bench;
  bench.LinkPrograms();
  WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
  harness::WriteFile(bench.set + "abc.zip", "old contents");
  const std::string member = bench.set + "abc.zip." + std::to_string(c.member);
  ProgramRun run = bench.Joiner("set/abc.zip.1");
  run.terminal = true;
  std::set<std::string> after_change;
  run.steps = {Step{"(y/n)? ", "y",
                    [&](pid_t) {
                      c.change(member);
                      after_change = Tree(bench.folder.path());
                    }},
               Step{expected::kClosingPrompt, "x", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            JoinerConsole(kJoinerAccepted + Bound(1, c.member - 1) +
                          (c.opened ? " Currently binding abc.zip." + std::to_string(c.member) +
                                          "...."
                                    : std::string()) +
                          JoinerFailure(std::string(c.detail) + " 'abc.zip." +
                                        std::to_string(c.member) + "'")));
  EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), "old contents");
  EXPECT_EQ(Tree(bench.folder.path()), after_change) << "a temporary file was left";
}

const char kChanged[] = "The segment file changed after the set was checked:";

INSTANTIATE_TEST_SUITE_P(
    DataSafety, JoinerChangedMemberTest,
    ::testing::Values(
        ChangeCase{"LastGrewByOneByte", 3, [](const std::string& p) { Resize(p, 301); }, kChanged},
        ChangeCase{"LastGrewMuch", 3, [](const std::string& p) { Resize(p, 200000); }, kChanged},
        ChangeCase{"LastShrank", 3, [](const std::string& p) { Resize(p, 299); }, kChanged},
        ChangeCase{"LastEmptied", 3, [](const std::string& p) { Resize(p, 0); }, kChanged},
        ChangeCase{"MiddleGrew", 2, [](const std::string& p) { Resize(p, 701); }, kChanged},
        ChangeCase{"MiddleShrank", 2, [](const std::string& p) { Resize(p, 699); }, kChanged},
        ChangeCase{"LastBecameAFifo", 3,
                   [](const std::string& p) {
                     fs::remove(p);
                     ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
                   },
                   "cannot read file"},
        ChangeCase{"LastBecameAFolder", 3,
                   [](const std::string& p) {
                     fs::remove(p);
                     fs::create_directory(p);
                   },
                   "cannot read file"},
        ChangeCase{"LastWentAway", 3, [](const std::string& p) { fs::remove(p); },
                   "cannot open file", false}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return info.param.name; });

// ===========================================================================
// Special files in every role: a FIFO, a socket, a character device (a node
// of its own, and a link to one), a folder and a dangling link, at the
// splitter's input, segment 1 and segment 2, Trenzik.ini, and the joiner's
// segment 1, a member and the output. Each is refused or passed over at
// once, never waited on and never written into.

enum class Special { kFifo, kSocket, kDevice, kDeviceLink, kFolder, kDanglingLink };
const Special kEverySpecial[] = {Special::kFifo,       Special::kSocket, Special::kDevice,
                                 Special::kDeviceLink, Special::kFolder, Special::kDanglingLink};

const char* SpecialName(Special kind) {
  switch (kind) {
    case Special::kFifo: return "Fifo";
    case Special::kSocket: return "Socket";
    case Special::kDevice: return "Device";
    case Special::kDeviceLink: return "DeviceLink";
    case Special::kFolder: return "Folder";
    case Special::kDanglingLink: return "DanglingLink";
  }
  return "";
}

bool IsLink(Special kind) { return kind == Special::kDeviceLink || kind == Special::kDanglingLink; }
// A folder or a dangling link is no file to read at all: a missing input.
bool IsAFile(Special kind) { return kind != Special::kFolder && kind != Special::kDanglingLink; }

void MakeSpecial(Special kind, const std::string& path) {
  switch (kind) {
    case Special::kFifo:
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      break;
    case Special::kSocket: {
      // The name stays when the socket is closed: nobody listens behind it.
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      struct sockaddr_un address {};
      address.sun_family = AF_UNIX;
      ASSERT_LT(path.size(), sizeof address.sun_path);
      path.copy(address.sun_path, path.size());
      ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
      close(fd);
      break;
    }
    case Special::kDevice:
      ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)), 0);  // /dev/zero
      break;
    case Special::kDeviceLink:
      fs::create_symlink("/dev/zero", path);
      break;
    case Special::kFolder:
      fs::create_directory(path);
      break;
    case Special::kDanglingLink:
      fs::create_symlink("nowhere", path);
      break;
  }
}

// How a run with a special file ends.
struct SpecialEnding {
  std::string output;
  int exit_status;
  bool tree_kept;     // nothing in the bench came or went
  bool special_kept;  // the special file is still what it was
};

struct SpecialRole {
  const char* name;
  std::string where;  // the special file, under the bench's folder
  bool joiner;
  std::function<void(Bench&)> arrange;  // everything else the run needs
  std::function<SpecialEnding(const Bench&, Special)> ending;
};

std::string SplitterRefused(const std::string& detail) {
  return SplitterError(detail) + expected::kClosing;
}
std::string SplitterAskedWithoutConsole(const Bench& bench) {
  return " '" + bench.bin +
         "abc.zip.1' already exists.\n Ok to overwrite all files(y/n)? \xff\n\n" +
         expected::kAborted + expected::kClosing;
}
const std::string kMemberMissing = JoinerConsole(
    "\n ERROR :  File not found. - abc.zip.2\n\n  File(s) listed above not found. \n\n" +
    expected::kAborted);
const std::string kSplitWhole = kSplitStart + kMeasured + Writing(3);

const SpecialRole kSpecialRoles[] = {
    {"SplitterInput", "data/abc.zip", false, [](Bench&) {},
     [](const Bench&, Special kind) -> SpecialEnding {
       if (!IsAFile(kind)) {
         return {kSplitStart + expected::splitter::kNotFound + expected::kClosing, 1, true, true};
       }
       return {kSplitStart + SplitterRefused(expected::ThenPath(
                                 expected::splitter::kInputNotRegular, "abc.zip")),
               1, true, true};
     }},
    {"SplitterFirstSegment", "bin/abc.zip.1", false, [](Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special kind) -> SpecialEnding {
       // A link is replaced, after the question; a folder cannot be.
       if (IsLink(kind)) {
         return {kSplitStart + kMeasured + SplitterAskedWithoutConsole(bench), 1, true, true};
       }
       if (kind == Special::kFolder) {
         return {kSplitStart + kMeasured + SplitterRefused("cannot create file"), 1, true, true};
       }
       return {kSplitStart + kMeasured +
                   SplitterRefused(expected::ThenPath(expected::splitter::kSegmentNotRegular,
                                                      bench.bin + "abc.zip.1")),
               1, true, true};
     }},
    {"SplitterLaterSegment", "bin/abc.zip.2", false, [](Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special kind) -> SpecialEnding {
       if (IsLink(kind)) {
         return {kSplitWhole + SplitSummary(bench.bin, 3) + expected::kClosing, 0, false, false};
       }
       const std::string written = kSplitStart + kMeasured + Writing(1) + " Done!";
       if (kind == Special::kFolder) {
         return {written + "\nERROR:\n cannot create file\n" + expected::kClosing, 1, false, true};
       }
       return {written + SplitterRefused(expected::ThenPath(
                             expected::splitter::kSegmentNotRegular, bench.bin + "abc.zip.2")),
               1, false, true};
     }},
    // No such file is read: it counts as absent and the run goes on.
    {"SplitterIni", "bin/Trenzik.ini", false, [](Bench& bench) { bench.Input(1100); },
     [](const Bench& bench, Special) -> SpecialEnding {
       return {kSplitWhole + SplitSummary(bench.bin, 3) + expected::kClosing, 0, false, true};
     }},
    {"JoinerSegmentOne", "set/abc.zip.1", true, [](Bench&) {},
     [](const Bench&, Special) -> SpecialEnding {
       return {JoinerConsole(kJoinerNotFirst), 1, true, true};
     }},
    {"JoinerMember", "set/abc.zip.2", true,
     [](Bench& bench) {
       WriteSet(bench.set + "abc.zip.", 3, {700, 700, 300});
       fs::remove(bench.set + "abc.zip.2");
     },
     [](const Bench&, Special) -> SpecialEnding { return {kMemberMissing, 1, true, true}; }},
    {"JoinerOutput", "set/abc.zip", true,
     [](Bench& bench) { WriteSet(bench.set + "abc.zip.", 2, {700, 300}); },
     [](const Bench&, Special kind) -> SpecialEnding {
       // A link is replaced, after the question; a folder cannot be.
       if (IsLink(kind)) {
         return {JoinerConsole(JoinerAsked("\xff") + expected::kAborted), 1, true, true};
       }
       if (kind == Special::kFolder) {
         return {JoinerConsole(JoinerFailure("cannot create file")), 1, true, true};
       }
       return {JoinerConsole(JoinerFailure(
                   expected::ThenPath(expected::joiner::kOutputNotRegular, "set/abc.zip"))),
               1, true, true};
     }},
};

void PrintTo(const SpecialRole& role, std::ostream* out) { *out << role.name; }

struct SpecialFileKind {
  fs::file_type type;
  fs::path target;  // of a link
};
SpecialFileKind KindAt(const std::string& path) {
  const fs::file_type type = fs::symlink_status(path).type();
  return {type, type == fs::file_type::symlink ? fs::read_symlink(path) : fs::path()};
}

class SpecialFileTest
    : public ::testing::TestWithParam<std::tuple<SpecialRole, Special>> {};

TEST_P(SpecialFileTest, EndsAtOnceAndLeavesItAlone) {
  const auto& [role, kind] = GetParam();
  Bench bench;
  bench.LinkPrograms();
  role.arrange(bench);
  const std::string special = bench.folder / role.where;
  MakeSpecial(kind, special);
  const SpecialFileKind made = KindAt(special);
  const auto before = Tree(bench.folder.path());
  RunOutcome outcome =
      harness::Run(role.joiner ? bench.Joiner("set/abc.zip.1") : bench.Splitter());
  const SpecialEnding ending = role.ending(bench, kind);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, ending.exit_status);
  EXPECT_EQ(outcome.output, ending.output);
  if (ending.tree_kept) {
    EXPECT_EQ(Tree(bench.folder.path()), before);
  }
  const SpecialFileKind now = KindAt(special);
  if (ending.special_kept) {
    EXPECT_EQ(now.type, made.type);
    EXPECT_EQ(now.target, made.target);
  } else {
    EXPECT_TRUE(IsRegular(special));  // replaced by a segment, the link's target untouched
  }
}

INSTANTIATE_TEST_SUITE_P(
    DataSafety, SpecialFileTest,
    ::testing::Combine(::testing::ValuesIn(kSpecialRoles), ::testing::ValuesIn(kEverySpecial)),
    [](const ::testing::TestParamInfo<std::tuple<SpecialRole, Special>>& info) {
      return std::string(std::get<0>(info.param).name) + SpecialName(std::get<1>(info.param));
    });

// A disk image is a fair thing to cut: a loop device over a file splits and
// binds back into that file.
TEST(SplitterInput, ABlockDeviceIsCutByItsSize) {
  Bench bench;
  bench.LinkPrograms();
  const std::string image = harness::RandomBytes(3 * 65536, 11);
  harness::WriteFile(bench.folder / "image", image);
  const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) GTEST_SKIP() << "no loop devices here";
  std::string device;
  int loop = -1;
  const int backing = open((bench.folder / "image").c_str(), O_RDONLY | O_CLOEXEC);
  // Another test may take the free device first: ask again.
  for (int attempt = 0; attempt < 5 && loop < 0; ++attempt) {
    const int number = ioctl(control, LOOP_CTL_GET_FREE);
    if (number < 0) break;
    device = "/dev/loop" + std::to_string(number);
    loop = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (loop >= 0 && ioctl(loop, LOOP_SET_FD, backing) != 0) {
      close(loop);
      loop = -1;
    }
  }
  close(backing);
  close(control);
  if (loop < 0) GTEST_SKIP() << "cannot attach a loop device";
  fs::create_symlink(device, bench.data + "abc.zip");
  ProgramRun run = bench.Splitter();
  run.words[2] = "65536";
  RunOutcome split = harness::Run(run);
  ioctl(loop, LOOP_CLR_FD, 0);
  close(loop);
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_EQ(bench.JoinSplitterSet().exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(bench.bin + "abc.zip") == image);
}

}  // namespace
