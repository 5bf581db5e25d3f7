// Key waits through a pseudo terminal: the overwrite question and the
// closing wait read the terminal, never standard input, take one key without
// Enter, reduce function and cursor keys to their lead code, and leave the
// terminal as they found it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "bench.h"
#include "expected_text.h"

namespace {

using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;

const std::string& kQuestion = expected::splitter::kQuestion;

std::string AfterQuestion(const std::string& output) {
  std::size_t at = output.find(kQuestion);
  return at == std::string::npos ? std::string() : output.substr(at + kQuestion.size());
}

// The program is still waiting a while after the closing wait began (the
// harness runs this once the terminal is in the wait's mode): nothing left
// over from an earlier key answered it. That nothing happens can only be
// watched for a while.
std::function<void(pid_t)> ExpectStillWaiting(bool* waiting) {
  return [waiting](pid_t child) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    int status;
    *waiting = waitpid(child, &status, WNOHANG) == 0;
  };
}

struct RefusingKey {
  const char* name;
  std::string keys;
  std::string echo;  // the byte echoed behind the question
};

class RefusingKeyTest : public ::testing::TestWithParam<RefusingKey> {};

TEST_P(RefusingKeyTest, RefusesAndTheClosingWaitWaitsForANewKey) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  bool still_waiting = false;
  run.steps = {Step{kQuestion, GetParam().keys, nullptr},
               Step{expected::kClosingPrompt, "x", ExpectStillWaiting(&still_waiting)}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(AfterQuestion(outcome.output),
            GetParam().echo + "\n\n" + expected::kAborted + expected::kClosing);
  EXPECT_TRUE(still_waiting);
  EXPECT_TRUE(outcome.stdin_untouched);
  EXPECT_EQ(harness::ReadFile(bench.bin + "abc.zip.1"), "old segment");
  EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip.2"));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RefusingKeyTest,
    ::testing::Values(RefusingKey{"n", "n", "n"}, RefusingKey{"N", "N", "N"},
                      RefusingKey{"Enter", "\r", "\r"}, RefusingKey{"Space", " ", " "},
                      RefusingKey{"Digit", "7", "7"}, RefusingKey{"Escape", "\x1b", "\x1b"},
                      RefusingKey{"CtrlC", "\x03", "\x03"},
                      RefusingKey{"CursorUp", "\x1b[A", "\xe0"},
                      RefusingKey{"CursorRightSs3", "\x1bOC", "\xe0"},
                      RefusingKey{"Delete", "\x1b[3~", "\xe0"},
                      RefusingKey{"PageDownWithCtrl", "\x1b[6;5~", "\xe0"},
                      RefusingKey{"F1", "\x1bOP", std::string(1, '\0')},
                      RefusingKey{"F5", "\x1b[15~", std::string(1, '\0')},
                      RefusingKey{"F10", "\x1b[21~", std::string(1, '\0')},
                      RefusingKey{"F11", "\x1b[23~", "\xe0"},
                      RefusingKey{"F12", "\x1b[24~", "\xe0"},
                      RefusingKey{"LinuxConsoleF1", "\x1b[[A", std::string(1, '\0')},
                      RefusingKey{"ShiftF3", "\x1b[1;2R", std::string(1, '\0')}),
    [](const ::testing::TestParamInfo<RefusingKey>& info) { return info.param.name; });

class AcceptingKeyTest : public ::testing::TestWithParam<std::string> {};

TEST_P(AcceptingKeyTest, AcceptsAndOverwritesTheSet) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  run.steps = {Step{kQuestion, GetParam(), nullptr}, Step{expected::kClosingPrompt, "x", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.exit_status, 0);
  const std::string accepted = GetParam() + "\n\n Overwriting all existing files.\n\n";
  EXPECT_EQ(AfterQuestion(outcome.output).substr(0, accepted.size()), accepted);
  EXPECT_EQ(harness::ReadFile(bench.bin + "abc.zip.1").size(), 512u);
  EXPECT_TRUE(outcome.stdin_untouched);
}

INSTANTIATE_TEST_SUITE_P(Keys, AcceptingKeyTest, ::testing::Values("y", "Y"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(KeyWait, AKeyTypedBeforeTheWaitAnswersIt) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  // Typed at once, while the program is still starting: it must not be
  // thrown away when the wait begins.
  run.steps = {Step{"", "y", nullptr}, Step{expected::kClosingPrompt, "x", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(AfterQuestion(outcome.output).substr(0, 3), "y\n\n");
}

TEST(KeyWait, CtrlCAtTheClosingWaitIsTheAwaitedKey) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  run.steps = {Step{kQuestion, "y", nullptr}, Step{expected::kClosingPrompt, "\x03", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output.substr(outcome.output.size() - expected::kClosing.size()),
            expected::kClosing);
}

TEST(KeyWait, TerminalModeIsTheSameAfterEveryWait) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  run.steps = {Step{kQuestion, "\x1b[B", nullptr}, Step{expected::kClosingPrompt, "q", nullptr}};
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_TRUE(harness::SameTerminalMode(outcome.mode_before, outcome.mode_after));
  // Echo was off during both waits: neither key reached the screen.
  EXPECT_EQ(outcome.terminal_text.find('q'), std::string::npos);
}

TEST(KeyWait, WithoutAConsoleTheQuestionIsRefusedAtOnce) {
  harness::Bench bench;
  ProgramRun run = bench.SplitterAsking();
  run.terminal = false;
  RunOutcome outcome = harness::Run(run);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 1);
  // The code -1 is echoed as its low eight bits.
  EXPECT_EQ(AfterQuestion(outcome.output),
            "\xff\n\n" + expected::kAborted + expected::kClosing);
  EXPECT_TRUE(outcome.stdin_untouched);
  EXPECT_EQ(harness::ReadFile(bench.bin + "abc.zip.1"), "old segment");
}

}  // namespace
