// Key waits of the Windows programs under Wine, inside a pseudo terminal that
// Wine's console reads: the overwrite question of either program takes one
// key without Enter, Y and y accept and every other key refuses, and after
// a refusal the closing wait waits for a key of its own, also when the
// refusing key sent a multi-byte sequence.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

#include "expected_text.h"
#include "wine_driver.h"

namespace {

using wine::Build;
using wine::Drive;
using wine::Folder;
namespace joiner = expected::joiner;
namespace splitter = expected::splitter;

using wine::Program;

struct KeyCase {
  const char* name;
  std::string keys;  // what the terminal sends
  std::string echo;  // the byte echoed behind the question
  bool accepts;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

// Refusing cursor keys echo 0 under Wine, whose console marks no key as an
// enhanced one; a Windows console gives the gray cursor keys 224.
const KeyCase kKeyCases[] = {
    {"y", "y", "y", true},
    {"Y", "Y", "Y", true},
    {"n", "n", "n", false},
    {"N", "N", "N", false},
    {"Escape", "\x1b", "\x1b", false},
    {"Enter", "\r", "\r", false},
    {"CursorUp", "\x1b[A", std::string(1, '\0'), false},
    {"CursorLeftSs3", "\x1bOD", std::string(1, '\0'), false},
    {"F12", "\x1b[24~", "\xe0", false},
};

// Whether the program was still running a while after the closing wait
// began: nothing left over from the answer ended it. That nothing happens
// can only be watched for a while.
std::function<void(pid_t)> CheckStillWaiting(bool* waiting) {
  return [waiting](pid_t child) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int status;
    *waiting = waitpid(child, &status, WNOHANG) == 0;
  };
}

class WineKeyWaitTest : public ::testing::TestWithParam<std::tuple<Build, Program, KeyCase>> {};

TEST_P(WineKeyWaitTest, AnswersTheOverwriteQuestionWithOneKey) {
  const Build& build = std::get<0>(GetParam());
  const Program program = std::get<1>(GetParam());
  const KeyCase& key = std::get<2>(GetParam());
  Folder folder(build, Drive::kC);
  const wine::QuestionScene scene = wine::PrepareQuestion(build, folder, program, 9);

  wine::Start start;
  start.program = scene.program;
  start.arguments = scene.arguments;
  start.working_directory = scene.working_directory;
  start.console = true;

  bool still_waiting = false;
  const std::string& question =
      program == Program::kSplitter ? splitter::kQuestion : joiner::kQuestion;
  // The harness types each key once Wine's console has switched the
  // terminal into its key-wait mode (wine::kConsoleKeyWait): typed before
  // that, Enter would arrive cooked, as LF.
  start.steps = {harness::Step{question, key.keys, nullptr},
                 harness::Step{expected::kClosingPrompt, "x", CheckStillWaiting(&still_waiting)}};
  harness::RunOutcome run = wine::Run(build, start);

  EXPECT_TRUE(run.steps_done);
  EXPECT_FALSE(run.timed_out);
  EXPECT_TRUE(still_waiting) << "the closing wait ended without a key of its own";
  const std::string after_answer =
      key.accepts ? scene.accepted_rest + expected::kClosing : expected::kAborted + expected::kClosing;
  EXPECT_EQ(run.output, scene.before_question + key.echo + "\n\n" + after_answer);
  EXPECT_EQ(run.exit_status, key.accepts ? 0 : 1);
  if (key.accepts) {
    const std::string written = harness::ReadFile(scene.existing);
    EXPECT_EQ(program == Program::kSplitter ? written.substr(17) : written,
              program == Program::kSplitter ? scene.source.substr(0, 512 - 17) : scene.source);
  } else {
    EXPECT_EQ(harness::ReadFile(scene.existing), "old contents");
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, WineKeyWaitTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::Values(Program::kSplitter, Program::kJoiner),
                                            ::testing::ValuesIn(kKeyCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) == Program::kSplitter ? "_Trenzik_"
                                                                                 : "_Morvel_") +
                                  std::get<2>(info.param).name;
                         });

}  // namespace
