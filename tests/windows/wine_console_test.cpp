// Both Windows programs on a real console: Wine's console on a terminal that
// tmux emulates. Ctrl+C during a key wait is the key 3 (at the question it
// refuses, at a closing wait it ends the wait with the run's own status);
// what the screen shows is whole characters of the ANSI code page: double-
// byte names under the code page 932, accented names under 1252; and a
// program folder whose name ends in a byte of the Shift_JIS lead range is
// still the program's folder under a single-byte code page.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "expected_text.h"
#include "tmux_console.h"
#include "wine_driver.h"

namespace {

using std::chrono::seconds;
using wine::Build;
using wine::Drive;
using wine::Folder;
namespace joiner = expected::joiner;
namespace splitter = expected::splitter;

// Long enough for a loaded machine to start Wine; every wait ends as soon
// as its condition holds.
constexpr seconds kDeadline(90);

// What Wine shows for a byte it cannot map (KATAKANA MIDDLE DOT) and the
// replacement character, in UTF-8 as the terminal receives them.
const std::string kMiddleDot = "\xe3\x83\xbb";
const std::string kReplacement = "\xef\xbf\xbd";

std::vector<std::string> FilesIn(const std::string& unix_folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(unix_folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SkipWithoutTmux() {
  if (!wine::TmuxInstalled()) GTEST_SKIP() << "tmux is not installed";
}

// ---------------------------------------------------------------------------
// Ctrl+C. Standard output goes into a file, so the exact bytes are compared;
// the key waits read the console all the same.

using wine::Program;


class WineCtrlCTest : public ::testing::TestWithParam<std::tuple<Build, Program>> {
 protected:
  void SetUp() override { SkipWithoutTmux(); }
};

TEST_P(WineCtrlCTest, AtTheQuestionItRefusesAndTheClosingWaitStillWaits) {
  const Build& build = std::get<0>(GetParam());
  const Program program = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  const wine::QuestionScene scene = wine::PrepareQuestion(build, folder, program, 11);

  wine::ConsoleStart start;
  start.program = scene.program;
  start.arguments = scene.arguments;
  start.working_directory = scene.working_directory;
  start.output_file = folder.Unix("output.bin");

  wine::TmuxConsole console;
  console.Start(build, start);
  ASSERT_TRUE(console.WaitForOutput(scene.before_question, kDeadline)) << console.Output();
  ASSERT_TRUE(console.WaitForKeyWait(kDeadline));
  console.SendKeys("C-c");
  ASSERT_TRUE(console.WaitForOutput(expected::kClosingPrompt, kDeadline)) << console.Output();
  // Ctrl+C answered the question only: the closing wait waits for a key of
  // its own.
  EXPECT_TRUE(console.StillRunningAfter(std::chrono::milliseconds(500)));
  console.SendKeys("x", true);
  EXPECT_EQ(console.WaitForExit(kDeadline), 1);
  EXPECT_EQ(console.Output(),
            scene.before_question + "\x03\n\n" + expected::kAborted + expected::kClosing);
  EXPECT_EQ(harness::ReadFile(scene.existing), "old contents");
}

TEST_P(WineCtrlCTest, AtTheClosingWaitOfAFailureItEndsWithStatusOne) {
  const Build& build = std::get<0>(GetParam());
  const Program program = std::get<1>(GetParam());
  Folder folder(build, Drive::kZ);
  const bool splitter = program == Program::kSplitter;
  const std::string exe = splitter ? "Trenzik.exe" : "Morvel.exe";
  wine::PlaceProgram(build, exe, folder.Unix(exe));

  wine::ConsoleStart start;
  start.working_directory = folder.Unix();
  start.output_file = folder.Unix("output.bin");
  start.program = folder.Dos(exe);
  start.arguments = {splitter ? "missing.zip" : "missing.zip.1"};
  const std::string failure =
      splitter ? expected::kSplitterBanner + splitter::kNotFound
               : expected::kJoinerBanner + joiner::kNotFound + expected::kAborted;

  wine::TmuxConsole console;
  console.Start(build, start);
  ASSERT_TRUE(console.WaitForOutput(expected::kClosingPrompt, kDeadline)) << console.Output();
  ASSERT_TRUE(console.WaitForKeyWait(kDeadline));
  console.SendKeys("C-c");
  EXPECT_EQ(console.WaitForExit(kDeadline), 1);
  EXPECT_EQ(console.Output(), failure + expected::kClosing);
}

// Outside a key wait Ctrl+C ends the run at once, as an interrupted Windows
// program ends: with STATUS_CONTROL_C_EXIT, of which Wine hands the host its
// low byte. Morvel's temporary file goes and the old output stays; Trenzik's
// segment 1 keeps its zeroed signature, so the cut set never binds.
constexpr int kInterruptedStatus = 0xC000013A & 0xFF;

// A file of `size` bytes that starts with `start` and holds nothing else:
// sparse, so a copy of gigabytes costs no disk to set up.
void MakeSparse(const std::string& path, const std::string& start, std::uintmax_t size) {
  harness::WriteFile(path, start);
  std::filesystem::resize_file(path, size);
}

// The size of the first file in `unix_folder` whose name ends in `suffix`;
// -1 when there is none.
std::intmax_t SizeOfFileEndingIn(const std::string& unix_folder, const std::string& suffix) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(unix_folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      const std::uintmax_t size = std::filesystem::file_size(entry.path(), error);
      return error ? -1 : static_cast<std::intmax_t>(size);
    }
  }
  return -1;
}

TEST_P(WineCtrlCTest, DuringALargeCopyItEndsInterruptedAndLeavesNoTemporaryFile) {
  const Build& build = std::get<0>(GetParam());
  const Program program = std::get<1>(GetParam());
  const bool splitter = program == Program::kSplitter;
  Folder folder(build, Drive::kC);
  harness::MakeFolder(folder.Unix("data"));
  // Gigabytes, so that the copy is still running when the key arrives.
  constexpr std::uintmax_t kSegment = 1000000000;
  wine::ConsoleStart start;
  start.working_directory = folder.Unix("data");
  start.output_file = folder.Unix("output.bin");
  std::string before_copy;
  std::string growing;  // the suffix of the file the copy writes
  if (splitter) {
    wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
    harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=1000000000\r\n");
    MakeSparse(folder.Unix("data/abc.zip"), "", 2500000000u);
    start.program = folder.Dos("tools/Trenzik.exe");
    start.arguments = {folder.Dos("data/abc.zip")};
    before_copy = expected::kSplitterBanner + splitter::IniRead(1000000000) +
                  splitter::kMeasured + " writing header.... Done!\n writing to abc.zip.1....";
    growing = ".zip.1";
  } else {
    wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
    MakeSparse(folder.Unix("data/abc.zip.1"), expected::SegmentHeader(3, "abc.zip"), kSegment);
    MakeSparse(folder.Unix("data/abc.zip.2"), "", kSegment);
    MakeSparse(folder.Unix("data/abc.zip.3"), "", kSegment / 2);
    harness::WriteFile(folder.Unix("data/abc.zip"), "old contents");
    start.program = folder.Dos("tools/Morvel.exe");
    start.arguments = {folder.Dos("data/abc.zip.1")};
    before_copy = expected::kJoinerBanner + " '" + folder.Dos("data/abc.zip") +
                  "' already exists.\n" + joiner::kQuestion + "y\n\n\n Overwriting existing file.\n";
    growing = ".tmp";
  }

  wine::TmuxConsole console;
  console.Start(build, start);
  if (!splitter) {
    ASSERT_TRUE(console.WaitForOutput(joiner::kQuestion, kDeadline)) << console.Output();
    ASSERT_TRUE(console.WaitForKeyWait(kDeadline));
    console.SendKeys("y", true);
  }
  // Well into the copy: 16 MiB written of more than two gigabytes. The set
  // goes into the program folder, the bound file beside the set.
  const std::string written = folder.Unix(splitter ? "tools" : "data");
  ASSERT_TRUE(wine::WaitUntil([&] { return SizeOfFileEndingIn(written, growing) >= (16 << 20); },
                              kDeadline))
      << console.Output();
  console.SendKeys("C-c");
  EXPECT_EQ(console.WaitForExit(kDeadline), kInterruptedStatus) << console.Output();
  const std::string output = console.Output();
  EXPECT_EQ(output.substr(0, before_copy.size()), before_copy);
  EXPECT_EQ(output.find("Successfully"), std::string::npos) << output;
  EXPECT_EQ(output.find(expected::kClosingPrompt), std::string::npos) << output;
  EXPECT_EQ(SizeOfFileEndingIn(written, ".tmp"), -1) << "a temporary file was left behind";
  if (splitter) {
    std::ifstream first(folder.Unix("tools/abc.zip.1"), std::ios::binary);
    std::string signature(5, '#');
    first.read(signature.data(), 5);
    EXPECT_EQ(signature, std::string(5, '\0'));
  } else {
    EXPECT_EQ(harness::ReadFile(folder.Unix("data/abc.zip")), "old contents");
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, WineCtrlCTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::Values(Program::kSplitter,
                                                              Program::kJoiner)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) == Program::kSplitter ? "_Trenzik"
                                                                                 : "_Morvel");
                         });

// ---------------------------------------------------------------------------
// The screen. Standard output is the console itself.

class WineScreenTest : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override { SkipWithoutTmux(); }
};

TEST_P(WineScreenTest, DoubleByteNamesAreWholeUnderCodePage932) {
  ASSERT_TRUE(wine::LocaleInstalled(wine::kJapaneseLocale))
      << "localedef -i ja_JP -f UTF-8 ja_JP.UTF-8";
  const Build& build = GetParam();
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=512\r\n");
  harness::MakeFolder(folder.Unix("data"));
  // 表 is 0x95 0x5C in the code page 932: its second byte is a backslash.
  const std::string name = "\xe8\xa1\xa8\xe8\xa1\xa8.bin";  // 表表.bin, as Wine stores it
  harness::WriteFile(folder.Unix("data/" + name), harness::RandomBytes(600, 12));

  wine::ConsoleStart start;
  start.working_directory = folder.Unix("data");
  start.locale = wine::kJapaneseLocale;
  start.program = folder.Dos("tools/Trenzik.exe");
  start.arguments = {name};
  {
    wine::TmuxConsole console;
    console.Start(build, start);
    ASSERT_TRUE(console.WaitForScreen(expected::kClosingPrompt, kDeadline)) << console.Screen();
    const std::string screen = console.Screen();
    EXPECT_NE(screen.find(" writing to " + name + ".1.... Done!"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" writing to " + name + ".2.... Done!"), std::string::npos) << screen;
    EXPECT_NE(screen.find("  Name of the file segmented: " + name), std::string::npos) << screen;
    EXPECT_EQ(screen.find(kMiddleDot), std::string::npos) << screen;
    EXPECT_EQ(screen.find(kReplacement), std::string::npos) << screen;
    console.SendKeys("x", true);
    EXPECT_EQ(console.WaitForExit(kDeadline), 0);
  }
  EXPECT_TRUE(harness::Exists(folder.Unix("tools/" + name + ".2")));

  // The joiner's not-found line begins with an ideographic space (0x81 0x40).
  start.program = folder.Dos("tools/Morvel.exe");
  start.arguments = {"missing.zip.1"};
  wine::TmuxConsole console;
  console.Start(build, start);
  ASSERT_TRUE(console.WaitForScreen(expected::kClosingPrompt, kDeadline)) << console.Screen();
  const std::string screen = console.Screen();
  EXPECT_NE(screen.find("\n\xe3\x80\x80" "File not found."), std::string::npos) << screen;
  EXPECT_EQ(screen.find(kMiddleDot), std::string::npos) << screen;
  EXPECT_EQ(screen.find(kReplacement), std::string::npos) << screen;
  console.SendKeys("x", true);
  EXPECT_EQ(console.WaitForExit(kDeadline), 1);
}

TEST_P(WineScreenTest, AnAccentedProgramFolderAndFileNameUnderCodePage1252) {
  const Build& build = GetParam();
  Folder folder(build, Drive::kC);
  const std::string program_folder = "Priv\xc3\xa9";  // Privé: é is 0xE9 in the code page 1252
  const std::string name = "Caf\xc3\xa9.zip";        // Café.zip
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix(program_folder + "/Trenzik.exe"));
  harness::WriteFile(folder.Unix(program_folder + "/Trenzik.ini"), "size=1000\r\n");
  // A configuration file where a wrong split would look for it.
  harness::WriteFile(folder.Unix("Trenzik.ini"), "size=700\r\n");
  harness::MakeFolder(folder.Unix("data"));
  harness::WriteFile(folder.Unix("data/" + name), harness::RandomBytes(2500, 13));

  wine::ConsoleStart start;
  start.working_directory = folder.Unix("data");
  start.program = folder.Dos(program_folder + "/Trenzik.exe");
  start.arguments = {folder.Dos("data/" + name)};
  wine::TmuxConsole console;
  console.Start(build, start);
  ASSERT_TRUE(console.WaitForScreen(expected::kClosingPrompt, kDeadline)) << console.Screen();
  const std::string screen = console.Screen();
  // 18 header bytes + 2500 data bytes in segments of 1000: three segments.
  EXPECT_NE(screen.find("  [segment size] is set to: 1000\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find(" writing to " + name + ".3.... Done!"), std::string::npos) << screen;
  EXPECT_NE(screen.find("  Name of the file segmented: " + name), std::string::npos) << screen;
  EXPECT_NE(screen.find("    " + folder.Dos(program_folder) + "\\\n"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("'" + name + ".1' file on 'Morvel'"), std::string::npos) << screen;
  console.SendKeys("x", true);
  EXPECT_EQ(console.WaitForExit(kDeadline), 0);
  EXPECT_EQ(FilesIn(folder.Unix(program_folder)),
            (std::vector<std::string>{name + ".1", name + ".2", name + ".3", "Trenzik.exe",
                                      "Trenzik.ini"}));
  EXPECT_EQ(FilesIn(folder.Unix()), (std::vector<std::string>{program_folder, "Trenzik.ini",
                                                               "data"}));
}

INSTANTIATE_TEST_SUITE_P(Builds, WineScreenTest, ::testing::Values(wine::kX86, wine::kX64),
                         [](const ::testing::TestParamInfo<Build>& info) {
                           return wine::BuildName(info.param);
                         });

}  // namespace
