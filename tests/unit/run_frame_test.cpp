// The run frame: banner geometry, the out-of-memory endings of both
// programs, the overwrite question and the endings' key waits.
#include "common/run_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "joiner/joiner_texts.h"
#include "splitter/splitter_texts.h"
#include "temp_folder.h"

namespace {

// What the frame under test wrote, one entry for each call of its text
// writer. Tests run one at a time, so one record serves them all.
std::vector<std::string> g_writes;
void RecordWrite(const char* text, std::size_t size) { g_writes.emplace_back(text, size); }

// A frame that records its writes and reads scripted keys.
struct TestFrame {
  RunFrame frame;
  explicit TestFrame(const FrameProfile& profile) : frame(MakeRunFrame(profile)) {
    g_writes.clear();
    frame.write_text = RecordWrite;
    frame.read_key = [] { return -1; };
  }
  std::string Output() const {
    std::string text;
    for (const std::string& piece : g_writes) text += piece;
    return text;
  }
};

std::string FramedLine(const char* text) {
  char line[kFramedLineLength + 1];
  FormatFramedLine(text, line);
  return line;
}

TEST(Banner, FramedLinesAreCentredWithTheOddBlankToTheRight) {
  EXPECT_EQ(FramedLine("--- File Segment Tool ---"),
            " =====                --- File Segment Tool ---                =====\n");
  EXPECT_EQ(FramedLine("--- File Bind Tool ---"),
            " =====                 --- File Bind Tool ---                  =====\n");
  EXPECT_EQ(FramedLine("This software is a freeware"),
            " =====               This software is a freeware               =====\n");
}

class BannerTest : public ::testing::TestWithParam<const FrameProfile*> {};

TEST_P(BannerTest, IsAnEmptyLineFourFramedLinesAndAnEmptyLine) {
  TestFrame test(*GetParam());
  PrintBanner(test.frame);
  EXPECT_EQ(g_writes.size(), 1u) << "the banner leaves in one write";
  std::istringstream lines(test.Output());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "");
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.size() + 1, kFramedLineLength) << line;
    EXPECT_EQ(line.substr(0, 6), " =====");
    EXPECT_EQ(line.substr(line.size() - 5), "=====");
    // Centred: the blanks on the right number the same as on the left or one more.
    const std::string field = line.substr(6, kFrameFieldWidth);
    const std::size_t left = field.find_first_not_of(' ');
    const std::size_t right = field.size() - 1 - field.find_last_not_of(' ');
    EXPECT_TRUE(right == left || right == left + 1) << line;
  }
  std::getline(lines, line);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(std::getline(lines, line));
}

INSTANTIATE_TEST_SUITE_P(Programs, BannerTest,
                         ::testing::Values(&kSplitterProfile, &kJoinerProfile),
                         [](const ::testing::TestParamInfo<const FrameProfile*>& info) {
                           return std::string(info.param == &kSplitterProfile ? "Trenzik"
                                                                              : "Morvel");
                         });

TEST(Banner, TitleNamesTheProgramAndVersion) {
  TestFrame test(kJoinerProfile);
  PrintBanner(test.frame);
  const std::string output = test.Output();
  EXPECT_NE(output.find(" Morvel v1.0 (English version) "), std::string::npos);
}

// Allocation counters for the out-of-memory tests; each death test runs in
// a child process of its own, so the counts start at zero there.
int g_allocations = 0;
int g_releases = 0;
int g_fail_at = 0;

void* FailingAllocate(std::size_t size) {
  if (++g_allocations == g_fail_at) return nullptr;
  return std::malloc(size);
}
void CountingRelease(void* block) {
  ++g_releases;
  std::free(block);
}
void ReportCounts() { std::fprintf(stderr, "allocations=%d releases=%d\n", g_allocations, g_releases); }

// Runs in the death test's child, which the parent knows only by its exit
// status and its standard error: the frame writes there, and the counts
// follow at exit.
void AllocateFailingAt(const FrameProfile& profile, int fail_at) {
#ifdef _WIN32
  // Every byte as the frame writes it, without a CR before each LF.
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  RunFrame frame = MakeRunFrame(profile);
  frame.write_text = [](const char* text, std::size_t size) { std::fwrite(text, 1, size, stderr); };
  frame.read_key = [] { return -1; };
  frame.allocator = {FailingAllocate, CountingRelease};
  g_fail_at = fail_at;
  std::atexit(ReportCounts);
  AllocateRunBuffers(frame);
  std::fprintf(stderr, "returned\n");
}

struct OutOfMemoryCase {
  const char* name;
  const FrameProfile* profile;
  int fail_at;
  std::string output;
};

class OutOfMemoryTest : public ::testing::TestWithParam<OutOfMemoryCase> {};

TEST_P(OutOfMemoryTest, PrintsTheProgramsLinesReleasesEarlierBuffersAndExitsWithOne) {
  const OutOfMemoryCase& c = GetParam();
  const std::string counts = "allocations=" + std::to_string(c.fail_at) +
                             " releases=" + std::to_string(c.fail_at - 1) + "\n";
  EXPECT_EXIT(AllocateFailingAt(*c.profile, c.fail_at), ::testing::ExitedWithCode(1),
              ::testing::Eq(c.output + counts));
}

const std::string kClosing = "\nAfter checking the message above, press any key to exit.\n\n";
const std::string kSplitterOutOfMemory =
    "\nERROR:\nNot enough memory to allocate buffer.\n" + kClosing;
const std::string kJoinerOutOfMemory =
    "\n ERROR : \n\n Not enough memory to allocate buffer.\n\n Program aborted. \n" + kClosing;

INSTANTIATE_TEST_SUITE_P(
    Allocations, OutOfMemoryTest,
    ::testing::Values(OutOfMemoryCase{"SplitterFirst", &kSplitterProfile, 1, kSplitterOutOfMemory},
                      OutOfMemoryCase{"SplitterFourth", &kSplitterProfile, 4, kSplitterOutOfMemory},
                      OutOfMemoryCase{"SplitterLast", &kSplitterProfile, 7, kSplitterOutOfMemory},
                      OutOfMemoryCase{"JoinerFirst", &kJoinerProfile, 1, kJoinerOutOfMemory},
                      OutOfMemoryCase{"JoinerLast", &kJoinerProfile, 6, kJoinerOutOfMemory}),
    [](const ::testing::TestParamInfo<OutOfMemoryCase>& info) { return info.param.name; });

TEST(FinishRun, ShowsTheClosingPromptWaitsForOneKeyAndEndsTheLine) {
  TestFrame test(kSplitterProfile);
  static int keys_read;
  keys_read = 0;
  test.frame.read_key = []() -> int { return ++keys_read, 'x'; };
  AllocateRunBuffers(test.frame);
  FinishRun(test.frame);
  EXPECT_EQ(test.Output(), kClosing);
  EXPECT_EQ(keys_read, 1);
  EXPECT_EQ(test.frame.buffers.allocated, 0);
}

TEST(PromptOverwrite, AsksNothingWhenThePathCannotBeOpened) {
  testkit::TempFolder folder;
  TestFrame test(kJoinerProfile);
  test.frame.read_key = []() -> int {
    ADD_FAILURE() << "no key may be read";
    return 'y';
  };
  PromptOverwrite(test.frame, (folder / "no/such/file").c_str());
  EXPECT_EQ(test.Output(), "");
}

struct AcceptCase {
  const char* name;
  const FrameProfile* profile;
  int key;
  std::string after_path;
};

class PromptAcceptTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(PromptAcceptTest, EchoesTheKeyAndPrintsTheAcceptanceLine) {
  testkit::TempFolder folder;
  const std::string path = folder / "existing_output";
  std::ofstream(path) << "old";
  TestFrame test(*GetParam().profile);
  static int key;
  key = GetParam().key;
  test.frame.read_key = [] { return key; };
  PromptOverwrite(test.frame, path.c_str());
  EXPECT_EQ(test.Output(), " '" + path + "' already exists." + GetParam().after_path);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PromptAcceptTest,
    ::testing::Values(
        AcceptCase{"SplitterLowerY", &kSplitterProfile, 'y',
                   "\n Ok to overwrite all files(y/n)? y\n\n Overwriting all existing files.\n\n"},
        AcceptCase{"JoinerUpperY", &kJoinerProfile, 'Y',
                   "\n Ok to overwrite file(y/n)? Y\n\n\n Overwriting existing file.\n"},
        // Only the low eight bits count: 0x179 reads as 'y'.
        AcceptCase{"JoinerLowEightBitsOnly", &kJoinerProfile, 0x179,
                   "\n Ok to overwrite file(y/n)? y\n\n\n Overwriting existing file.\n"}),
    [](const ::testing::TestParamInfo<AcceptCase>& info) { return std::string(info.param.name); });

// Runs in the death test's child only. The file asked about lies in a
// folder of the child's own, removed as the refusal exits (a static object
// goes at exit), so that no folder is left behind where a death test's
// child runs the test from its start (Windows).
void RefuseOverwriting() {
  static const testkit::TempFolder folder;
  const std::string path = folder / "existing_output";
  std::ofstream(path) << "old";
  RunFrame frame = MakeRunFrame(kJoinerProfile);
  frame.write_text = [](const char*, std::size_t) {};
  frame.read_key = [] { return static_cast<int>('n'); };
  PromptOverwrite(frame, path.c_str());
}

TEST(PromptOverwrite, RefusalAbortsWithStatusOne) {
  EXPECT_EXIT(RefuseOverwriting(), ::testing::ExitedWithCode(1), "");
}

// Say formats each message whole before it writes it, in one piece: a
// message longer than its first buffer, and a NUL from "%c", come out as
// the exact bytes, one write each.
TEST(Say, WritesEachMessageExactlyInOneWrite) {
  TestFrame test(kSplitterProfile);
  const std::string long_path(3000, 'p');
  Say(test.frame, " '%s' %s", long_path.c_str(), "already exists.");
  Say(test.frame, "%c\n\n", '\0');
  Say(test.frame, "%s", "");
  Say(test.frame, "%d|%s", -1, "x");
  const std::vector<std::string> expected = {" '" + long_path + "' already exists.",
                                             std::string(1, '\0') + "\n\n", "", "-1|x"};
  EXPECT_EQ(g_writes, expected);
}

}  // namespace
