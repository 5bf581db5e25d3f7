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

#include "expected_text.h"
#include "harness.h"

namespace {

using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;

const std::string kQuestion = " Ok to overwrite all files(y/n)? ";
constexpr auto kDeadline = std::chrono::seconds(10);

// Every field, the line discipline and both speeds included.
bool SameWholeMode(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_line == b.c_line &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// The mode of a key wait: no line editing, echo, signal keys, flow control
// or CR translation, one byte at a time.
bool InWaitMode(const struct termios& mode) {
  return (mode.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (mode.c_iflag & (IXON | ICRNL)) == 0 &&
         mode.c_cc[VMIN] == 1;
}

// Polls the terminal's mode until `wanted` holds; false (and a failure
// named after `what`) when the deadline passes first.
template <typename Condition>
bool AwaitMode(Condition wanted, const char* what) {
  const int terminal = harness::ActiveTerminal();
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  struct termios mode {};
  while (std::chrono::steady_clock::now() < deadline) {
    if (terminal >= 0 && tcgetattr(terminal, &mode) == 0 && wanted(mode)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "the terminal never reached " << what << " within " << kDeadline.count()
                << " s";
  return false;
}

// Sends `signal_number` once the wait has switched the terminal to its
// mode; without that the program is killed so that the run ends at once.
std::function<void(pid_t)> SignalDuringTheWait(int signal_number) {
  return [signal_number](pid_t child) {
    if (AwaitMode(InWaitMode, "the key wait's mode")) {
      kill(child, signal_number);
    } else {
      kill(child, SIGKILL);
    }
  };
}

using harness::QuestionSetup;

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
  QuestionSetup setup;
  const SignalCase& c = GetParam();
  if (c.wait == Wait::kQuestion) {
    setup.run.steps = {Step{kQuestion, "", SignalDuringTheWait(c.signal_number)}};
  } else {
    setup.run.steps = {Step{kQuestion, "n", nullptr},
                       Step{expected::kClosingPrompt, "", SignalDuringTheWait(c.signal_number)}};
  }
  RunOutcome outcome = harness::Run(setup.run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, -1);
  EXPECT_EQ(outcome.signal, c.signal_number) << strsignal(outcome.signal);
  EXPECT_TRUE(SameWholeMode(outcome.mode_before, outcome.mode_after));
  EXPECT_EQ(harness::ReadFile(setup.folder / "bin/abc.zip.1"), "old segment");
  EXPECT_FALSE(harness::Exists(setup.folder / "bin/abc.zip.2"));
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
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
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
  QuestionSetup setup;
  setup.run.words.insert(setup.run.words.begin(), {JOB_PARENT_PROGRAM, setup.run.executable});
  setup.run.executable = JOB_PARENT_PROGRAM;
  struct termios while_stopped {};
  bool stopped_and_back = false;
  auto stop_and_continue = [&](pid_t parent) {
    if (!AwaitMode(InWaitMode, "the question's mode")) {
      kill(parent, SIGKILL);
      return;
    }
    // The job's process group holds the terminal; the program leads it.
    const pid_t program = tcgetpgrp(harness::ActiveTerminal());
    ASSERT_NE(program, parent);
    kill(program, SIGTSTP);
    if (!AwaitState(program, true)) return;
    tcgetattr(harness::ActiveTerminal(), &while_stopped);
    kill(program, SIGCONT);
    stopped_and_back = AwaitState(program, false) && AwaitMode(InWaitMode, "the question's mode");
  };
  setup.run.steps = {Step{kQuestion, "n", stop_and_continue},
                     Step{expected::kClosingPrompt, "x", nullptr}};
  RunOutcome outcome = harness::Run(setup.run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_TRUE(stopped_and_back);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_TRUE(SameWholeMode(while_stopped, outcome.mode_before))
      << "the terminal stayed in the wait's mode while the program was stopped";
  EXPECT_TRUE(SameWholeMode(outcome.mode_after, outcome.mode_before));
  // The one key answered without Enter, and was not echoed.
  EXPECT_EQ(outcome.exit_status, 1);
  const std::size_t asked = outcome.output.find(kQuestion);
  ASSERT_NE(asked, std::string::npos);
  EXPECT_EQ(outcome.output.substr(asked + kQuestion.size()),
            "n\n\n" + expected::kAborted + expected::kClosing);
  EXPECT_EQ(outcome.terminal_text.find('n'), std::string::npos) << outcome.terminal_text;
  EXPECT_EQ(harness::ReadFile(setup.folder / "bin/abc.zip.1"), "old segment");
}

}  // namespace
