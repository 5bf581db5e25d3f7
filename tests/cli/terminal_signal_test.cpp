// Signals from other processes during a key wait: whatever ends the program
// leaves the terminal exactly as it found it, and a stop hands the shell its
// mode back while the wait goes on in its own mode once continued.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "bench.h"
#include "expected_text.h"

namespace {

using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;

const std::string& kQuestion = expected::splitter::kQuestion;

// Sent once the wait has switched the terminal to its mode (the harness
// waits for it), so that the mode after the run tells whether the program
// put it back.
Step SignalAtTheWait(const std::string& wait_for, int signal_number) {
  return Step{wait_for, "", [signal_number](pid_t child) { kill(child, signal_number); },
              /*at_key_wait=*/true};
}

enum class Wait { kQuestion, kClosing };

struct SignalCase {
  int signal_number;
  Wait wait;
};

std::string CaseName(const ::testing::TestParamInfo<SignalCase>& info) {
  std::string name = sigabbrev_np(info.param.signal_number);
  return name + (info.param.wait == Wait::kQuestion ? "AtTheQuestion" : "AtTheClosingWait");
}

class SignalDuringAWait : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalDuringAWait, PutsTheWholeModeBackAndDiesOfTheSignal) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  const SignalCase& c = GetParam();
  if (c.wait == Wait::kQuestion) {
    run.steps = {SignalAtTheWait(kQuestion, c.signal_number)};
  } else {
    run.steps = {Step{kQuestion, "n", nullptr},
                 SignalAtTheWait(expected::kClosingPrompt, c.signal_number)};
  }
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, -1);
  EXPECT_EQ(outcome.signal, c.signal_number) << strsignal(outcome.signal);
  EXPECT_TRUE(harness::SameTerminalMode(outcome.mode_before, outcome.mode_after));
  EXPECT_EQ(harness::ReadFile(bench.bin + "abc.zip.1"), "old segment");
  EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip.2"));
}

const int kTerminatingSignals[] = {SIGINT,  SIGQUIT, SIGTERM, SIGHUP,    SIGPIPE, SIGALRM,
                                   SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};

std::vector<SignalCase> AllCases() {
  std::vector<SignalCase> cases;
  for (Wait wait : {Wait::kQuestion, Wait::kClosing}) {
    for (int signal_number : kTerminatingSignals) cases.push_back({signal_number, wait});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringAWait, ::testing::ValuesIn(AllCases()),
                         CaseName);

// The state letter of /proc/<pid>/stat: 'T' while stopped.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
}

bool AwaitState(pid_t pid, bool stopped) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if ((ProcessState(pid) == 'T') == stopped) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "process " << pid << (stopped ? " never stopped" : " never went on");
  return false;
}

// Stopped and continued during the question, the program is started as a
// shell starts a job (JOB_PARENT_PROGRAM), so that the stop really stops it.
TEST(StopDuringAWait, HandsTheModeBackWhileStoppedAndAnswersOneKeyAfter) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  run.words.insert(run.words.begin(), {JOB_PARENT_PROGRAM, run.executable});
  run.executable = JOB_PARENT_PROGRAM;
  struct termios while_stopped {};
  pid_t program = -1;
  bool stopped_and_back = false;
  // A failure here ends the run at once rather than leave it waiting.
  auto stop_and_continue = [&](pid_t parent) {
    // The job's process group holds the terminal; the program leads it.
    program = tcgetpgrp(harness::ActiveTerminal());
    if (program == parent || kill(program, SIGTSTP) != 0 || !AwaitState(program, true)) {
      kill(parent, SIGKILL);
      return;
    }
    tcgetattr(harness::ActiveTerminal(), &while_stopped);
    kill(program, SIGCONT);
    stopped_and_back = AwaitState(program, false) && harness::AwaitKeyWaitMode();
  };
  run.steps = {Step{kQuestion, "n", stop_and_continue},
               Step{expected::kClosingPrompt, "x", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_TRUE(stopped_and_back) << "the program's process group is " << program;
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_TRUE(harness::SameTerminalMode(while_stopped, outcome.mode_before))
      << "the terminal stayed in the wait's mode while the program was stopped";
  EXPECT_TRUE(harness::SameTerminalMode(outcome.mode_after, outcome.mode_before));
  // The one key answered without Enter, and was not echoed.
  EXPECT_EQ(outcome.exit_status, 1);
  const std::size_t asked = outcome.output.find(kQuestion);
  ASSERT_NE(asked, std::string::npos);
  EXPECT_EQ(outcome.output.substr(asked + kQuestion.size()),
            "n\n\n" + expected::kAborted + expected::kClosing);
  EXPECT_EQ(outcome.terminal_text.find('n'), std::string::npos) << outcome.terminal_text;
  EXPECT_EQ(harness::ReadFile(bench.bin + "abc.zip.1"), "old segment");
}

}  // namespace
