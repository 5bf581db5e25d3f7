// Power cuts at every point of a run, on a file system that keeps only what
// was flushed (tests/power_cut/power_cut_fs.cpp). Whatever survives is no
// set or a whole one, the old output or the whole new one, and a run that
// said "Successfully" has its result on the medium. Flushes that fail end
// the run with nothing claimed and nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "expected_text.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using harness::ProgramRun;
using harness::RunOutcome;

// One mount of the power-cut file system at `mount`, over the files of
// `seed`; what was durable is in `dump` once it is unmounted.
class PowerCutMount {
 public:
  PowerCutMount(const std::string& program, const std::string& seed, const std::string& mount,
                const std::string& dump, unsigned long cut_after, bool fail_sync)
      : mount_(mount) {
    std::vector<std::string> words = {program, "-f", mount, "--seed=" + seed, "--dump=" + dump};
    if (cut_after > 0) words.push_back("--cut-after=" + std::to_string(cut_after));
    if (fail_sync) words.push_back("--fail-sync");
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    // Mounted once the control file answers; a server that ended could not mount.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    struct stat info;
    while (stat(Control().c_str(), &info) != 0) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    mounted_ = true;
  }
  ~PowerCutMount() {
    Unmount();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  PowerCutMount(const PowerCutMount&) = delete;
  PowerCutMount& operator=(const PowerCutMount&) = delete;

  bool mounted() const { return mounted_; }
  // The changing operations so far.
  unsigned long Operations() const {
    const std::string text = harness::ReadFile(Control());
    return std::stoul(text.substr(text.find(' ') + 1));
  }
  // Ends the mount; the server writes the dump as it ends. Where this
  // process may not unmount, SIGTERM has the server unmount itself.
  void Unmount() {
    if (!mounted_) return;
    mounted_ = false;
    if (umount2(mount_.c_str(), 0) != 0) kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string Control() const { return mount_ + "/.power_cut"; }
  std::string mount_;
  pid_t pid_ = -1;
  bool mounted_ = false;
};

enum class Scenario { kSplitIntoEmptyFolder, kSplitOverOlderSet, kJoinOverOutput };

bool IsJoin(Scenario s) { return s == Scenario::kJoinOverOutput; }

const char* NameOf(Scenario s) {
  switch (s) {
    case Scenario::kSplitIntoEmptyFolder: return "SplitIntoEmptyFolder";
    case Scenario::kSplitOverOlderSet: return "SplitOverOlderSet";
    case Scenario::kJoinOverOutput: return "JoinOverOutput";
  }
  return "";
}

void PrintTo(Scenario s, std::ostream* out) { *out << NameOf(s); }

ProgramRun NativeSplit(const std::string& bin, const std::string& data) {
  ProgramRun run;
  run.executable = TRENZIK_PROGRAM;
  run.words = {bin + "/Trenzik", "abc.zip", "512"};  // the set goes beside word 0
  run.working_directory = data;
  return run;
}

// The files a run starts with, under seed/: data/abc.zip (the split's
// input, or what the join's set holds), bin/ (where the split writes) and
// set/ (the join's set and its old output). 2300 bytes at 512 make five
// segments, the older set's 3300 seven, the join's 1200 three.
struct Bench {
  Scenario scenario;
  harness::TempFolder folder;
  std::string seed = folder / "seed";
  std::string mount = folder / "mnt";
  std::string input;      // the bytes split, or bound
  std::string old_bytes;  // the older set's input, or the old output
  std::map<std::string, std::string> members;  // the join's set, as it was

  explicit Bench(Scenario s) : scenario(s) {
    for (const char* sub : {"/data", "/bin", "/set"}) harness::MakeFolder(seed + sub);
    harness::MakeFolder(mount);
    if (scenario == Scenario::kSplitOverOlderSet) {
      old_bytes = harness::RandomBytes(3300, 3);
      harness::WriteFile(seed + "/data/abc.zip", old_bytes);
      EXPECT_EQ(harness::Run(NativeSplit(seed + "/bin", seed + "/data")).exit_status, 0);
    }
    input = harness::RandomBytes(IsJoin(scenario) ? 1200 : 2300, 4);
    harness::WriteFile(seed + "/data/abc.zip", input);
    if (IsJoin(scenario)) {
      EXPECT_EQ(harness::Run(NativeSplit(seed + "/set", seed + "/data")).exit_status, 0);
      for (int k = 1; k <= 3; ++k) {
        const std::string name = "abc.zip." + std::to_string(k);
        members[name] = harness::ReadFile(seed + "/set/" + name);
      }
      old_bytes = harness::RandomBytes(900, 5);
      harness::WriteFile(seed + "/set/abc.zip", old_bytes);
    }
  }

  // The run under test, on the mount.
  ProgramRun Program() const {
    if (IsJoin(scenario)) {
      ProgramRun run;
      run.executable = MORVEL_PROGRAM;
      run.words = {run.executable, "set/abc.zip.1"};
      run.working_directory = mount;
      return harness::Answering(run);
    }
    ProgramRun run = NativeSplit(mount + "/bin", mount + "/data");
    return scenario == Scenario::kSplitOverOlderSet ? harness::Answering(run) : run;
  }
  std::string OutputFolder() const { return IsJoin(scenario) ? "/set" : "/bin"; }
};

bool Succeeded(const RunOutcome& run) {
  return run.exit_status == 0 && run.output.find("Successfully") != std::string::npos;
}

std::string Describe(const std::string& bytes, const Bench& bench) {
  return bytes == bench.input       ? "the new bytes"
         : bytes == bench.old_bytes ? "the old bytes"
                                    : std::to_string(bytes.size()) + " other bytes";
}

// What a state (the dump of the durable one, or the live tree) must hold
// after `run`: segment 1 unsigned or absent, or a set that binds to the new
// bytes (to the old ones, untouched, only if the run failed); the join's
// old output or its whole new one; the input as it was.
void CheckState(const Bench& bench, const std::string& root, const RunOutcome& run) {
  const bool succeeded = Succeeded(run);
  if (IsJoin(bench.scenario)) {
    for (const auto& [name, bytes] : bench.members) {
      EXPECT_TRUE(harness::ReadFile(root + "/set/" + name) == bytes) << name << " changed";
    }
    const std::string output = root + "/set/abc.zip";
    ASSERT_TRUE(harness::Exists(output)) << "no output, neither old nor new";
    const std::string bytes = harness::ReadFile(output);
    EXPECT_TRUE(bytes == bench.input || (!succeeded && bytes == bench.old_bytes))
        << "the output holds " << Describe(bytes, bench) << (succeeded ? " after success" : "");
    return;
  }
  EXPECT_TRUE(harness::ReadFile(root + "/data/abc.zip") == bench.input) << "the input changed";
  const std::string first = root + "/bin/abc.zip.1";
  const bool signed_set =
      harness::Exists(first) && harness::ReadFile(first).compare(0, 5, "tavex") == 0;
  if (!signed_set) {
    EXPECT_FALSE(succeeded) << "a split that succeeded left no signed set";
    return;
  }
  // Bound natively, on a copy: the state itself stays as it was found.
  harness::TempFolder copy;
  fs::copy(root + "/bin", copy.path(), fs::copy_options::recursive);
  ProgramRun join;
  join.executable = MORVEL_PROGRAM;
  join.words = {join.executable, "abc.zip.1"};
  join.working_directory = copy.path();
  const RunOutcome bound = harness::Run(join);
  ASSERT_EQ(bound.exit_status, 0) << "a signed set that does not bind:\n" << bound.output;
  const std::string bytes = harness::ReadFile(copy / "abc.zip");
  EXPECT_TRUE(bytes == bench.input || (!succeeded && bytes == bench.old_bytes))
      << "the set binds to " << Describe(bytes, bench) << (succeeded ? " after success" : "");
}

std::string PowerCutFileSystem() {
#ifdef POWER_CUT_FS
  return POWER_CUT_FS;
#else
  return "";
#endif
}

class PowerCutTest : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    if (PowerCutFileSystem().empty()) GTEST_SKIP() << "built without libfuse3";
    if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse here";
  }
};

// Every cut point of an uncut run: after the k-th changing operation the
// medium is gone, and the dump shows what it held.
TEST_P(PowerCutTest, EveryCutLeavesAWholeResultOrNone) {
  Bench bench(GetParam());
  unsigned long operations = 0;
  {
    harness::TempFolder dump;
    PowerCutMount mount(PowerCutFileSystem(), bench.seed, bench.mount, dump.path(), 0, false);
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount the power-cut file system here";
    const RunOutcome run = harness::Run(bench.Program());
    ASSERT_TRUE(Succeeded(run)) << run.output;
    operations = mount.Operations();
    mount.Unmount();
    SCOPED_TRACE("uncut");
    CheckState(bench, dump.path(), run);
  }
  ASSERT_GT(operations, 0u);
  for (unsigned long k = 1; k <= operations; ++k) {
    SCOPED_TRACE("cut after " + std::to_string(k) + " of " + std::to_string(operations));
    harness::TempFolder dump;
    PowerCutMount mount(PowerCutFileSystem(), bench.seed, bench.mount, dump.path(), k, false);
    ASSERT_TRUE(mount.mounted());
    const RunOutcome run = harness::Run(bench.Program());
    EXPECT_FALSE(run.timed_out);
    mount.Unmount();
    CheckState(bench, dump.path(), run);
  }
}

// Every flush fails with EIO: the run fails and says so; the live state
// holds no temporary file, no signed set, the old output.
TEST_P(PowerCutTest, FailingFlushesEndTheRunWithNothingClaimed) {
  Bench bench(GetParam());
  harness::TempFolder dump;
  PowerCutMount mount(PowerCutFileSystem(), bench.seed, bench.mount, dump.path(), 0, true);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount the power-cut file system here";
  const RunOutcome run = harness::Run(bench.Program());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output.find("Successfully"), std::string::npos) << run.output;
  const std::string folder = bench.mount + bench.OutputFolder();
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    const bool segment = name.rfind("abc.zip.", 0) == 0 && name.size() > 8 &&
                         name.find_first_not_of("0123456789", 8) == std::string::npos;
    EXPECT_TRUE(segment || harness::Exists(bench.seed + bench.OutputFolder() + "/" + name))
        << name << " was left behind";
  }
  if (IsJoin(bench.scenario)) {
    EXPECT_TRUE(harness::ReadFile(folder + "/abc.zip") == bench.old_bytes) << "the old output went";
  } else if (harness::Exists(folder + "/abc.zip.1")) {
    EXPECT_NE(harness::ReadFile(folder + "/abc.zip.1").compare(0, 5, "tavex"), 0)
        << "a signed set was left";
  }
  mount.Unmount();
  SCOPED_TRACE("durable");
  CheckState(bench, dump.path(), run);
}

INSTANTIATE_TEST_SUITE_P(PowerCut, PowerCutTest,
                         ::testing::Values(Scenario::kSplitIntoEmptyFolder,
                                           Scenario::kSplitOverOlderSet,
                                           Scenario::kJoinOverOutput),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return NameOf(info.param);
                         });

}  // namespace
