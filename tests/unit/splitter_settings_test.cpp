// Segment sizes from text, the configuration line grammar and the text-mode
// reading of the configuration file.
#include "splitter/splitter_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "case_names.h"
#include "common/segment_format.h"
#include "temp_folder.h"

namespace {

struct SizeCase {
  std::string text;
  bool valid;
  std::int64_t number;
};

class SizeFromTextTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeFromTextTest, ReadsTheNumberAndJudgesIt) {
  SizeFromText size = SegmentSizeFromText(GetParam().text);
  EXPECT_EQ(size.valid, GetParam().valid);
  if (GetParam().valid) {
    EXPECT_EQ(size.number, GetParam().number);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SizeFromTextTest,
    ::testing::Values(SizeCase{"720000", true, 720000}, SizeCase{"512", true, 512},
                      SizeCase{"511", false, 0}, SizeCase{"2000000000", true, 2000000000},
                      SizeCase{"2000000001", false, 0}, SizeCase{"0000000512", true, 512},
                      SizeCase{"00000000512", false, 0}, SizeCase{"720000KB", true, 720000},
                      SizeCase{"720K", true, 720}, SizeCase{"+720000", true, 720000},
                      SizeCase{"-512", false, 0}, SizeCase{"", false, 0},
                      SizeCase{"KB", false, 0}, SizeCase{" \t720000", true, 720000},
                      SizeCase{"\v\f\r\n1024", true, 1024},
                      // more digits than any valid value: out of range, not wrapped
                      SizeCase{"99999999999999999999999", false, 0},
                      SizeCase{"4294967808", false, 0}, SizeCase{"+-720000", false, 0}),
    [](const ::testing::TestParamInfo<SizeCase>& info) {
      return testkit::NameFromText(info.param.text);
    });

// One line of the configuration grammar. In `judged`, a positive number is
// a valid entry's size and -1 an invalid entry.
struct GrammarCase {
  std::string line;
  bool flag;  // the command line gave the size: entries are not applied
  std::vector<std::int64_t> judged;
  std::size_t unjudged;
  std::ptrdiff_t error_at;  // -1: no grammar error
};

class ConfigGrammarTest : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(ConfigGrammarTest, SetsWhatTheLineSaysAndFindsGrammarErrors) {
  const GrammarCase& c = GetParam();
  ConfigLine parsed = ParseConfigurationLine(c.line + "\n", c.flag);
  std::vector<std::int64_t> judged;
  std::size_t unjudged = 0;
  for (const SizeEntry& entry : parsed.entries) {
    if (!entry.judged) {
      ++unjudged;
    } else {
      judged.push_back(entry.size.valid ? entry.size.number : -1);
    }
  }
  EXPECT_EQ(judged, c.judged) << c.line;
  EXPECT_EQ(unjudged, c.unjudged) << c.line;
  EXPECT_EQ(parsed.grammar_error, c.error_at >= 0) << c.line;
  if (c.error_at >= 0) {
    EXPECT_EQ(parsed.error_position, static_cast<std::size_t>(c.error_at));
  }
}

const std::vector<std::int64_t> kNone;
using V = std::vector<std::int64_t>;

INSTANTIATE_TEST_SUITE_P(
    Lines, ConfigGrammarTest,
    ::testing::Values(
        GrammarCase{"", false, kNone, 0, -1}, GrammarCase{"", true, kNone, 0, -1},
        GrammarCase{"   ", false, kNone, 0, -1},
        GrammarCase{"; size for 720K disks", false, kNone, 0, -1},
        GrammarCase{"  ;size=512", false, kNone, 0, -1},
        GrammarCase{"size=720000", false, V{720000}, 0, -1},
        GrammarCase{" SiZe  =  720000  ; note", false, V{720000}, 0, -1},
        GrammarCase{"size=720000 more words", false, V{720000}, 0, -1},
        GrammarCase{"size=720000 more words", true, kNone, 1, 12},
        GrammarCase{"size=720000  ", false, V{720000}, 0, -1},
        GrammarCase{"size=720000  ", true, kNone, 1, -1},
        GrammarCase{"size=720000 ; note", true, kNone, 1, -1},
        GrammarCase{"size=5", true, kNone, 1, -1},
        GrammarCase{"size=720K", false, V{720}, 0, -1},
        GrammarCase{"size=720000;", false, V{720000}, 0, -1},
        GrammarCase{"size=720000;note", false, V{-1}, 0, -1},
        GrammarCase{"size=100", false, V{-1}, 0, -1},
        GrammarCase{"size=100 size=720000", false, V{-1, 720000}, 0, -1},
        GrammarCase{"size=100 more", false, V{-1}, 0, 9},
        GrammarCase{"size=", false, V{-1}, 0, -1},
        GrammarCase{"size", false, kNone, 0, -1}, GrammarCase{"size", true, kNone, 0, -1},
        GrammarCase{"size ; note", false, kNone, 0, -1},
        GrammarCase{"ssize=720000", false, V{720000}, 0, -1},
        GrammarCase{"si", false, kNone, 0, -1}, GrammarCase{"sx=1", false, kNone, 0, 1},
        GrammarCase{"size x", false, kNone, 0, 5},
        GrammarCase{"size size=720000", false, V{720000}, 0, -1},
        GrammarCase{"width=720000", false, kNone, 0, 0},
        GrammarCase{"width=720000", true, kNone, 0, 0},
        GrammarCase{"\tsize=720000", false, kNone, 0, 0},
        GrammarCase{"size\t=720000", false, kNone, 0, 4},
        GrammarCase{"size=\t720000", false, V{720000}, 0, -1},
        GrammarCase{"size=0000000512", false, V{512}, 0, -1},
        GrammarCase{"size=00000000512", false, V{-1}, 0, -1},
        GrammarCase{"size=2000000001", false, V{-1}, 0, -1},
        GrammarCase{"size=+720000", false, V{720000}, 0, -1},
        GrammarCase{"size=-512", false, V{-1}, 0, -1},
        // a CR before the LF is an ordinary byte of the value
        GrammarCase{"size=720000\r", false, V{720000}, 0, -1},
        GrammarCase{"x\r", false, kNone, 0, 0},
        // a value text longer than its buffer is invalid, and nothing overflows
        GrammarCase{"size=" + std::string(200, '7'), false, V{-1}, 0, -1}),
    [](const ::testing::TestParamInfo<GrammarCase>& info) {
      return testkit::NameFromText(info.param.line) +
             (info.param.flag ? "_SizeGiven" : "");
    });

TEST(ConfigGrammar, TextEndsAtTheFirstNul) {
  const std::string line("size=720000\0garbage\n", 20);
  ConfigLine parsed = ParseConfigurationLine(line, false);
  ASSERT_EQ(parsed.entries.size(), 1u);
  EXPECT_EQ(parsed.entries[0].size.number, 720000);
  EXPECT_FALSE(parsed.grammar_error);
}

// Pieces as the reader returns them from a file holding `bytes`.
std::vector<std::string> Pieces(const std::string& bytes) {
  const testkit::TempFolder folder;
  const std::string path = folder / "Trenzik.ini";
  std::ofstream(path, std::ios::binary) << bytes;
  ConfigReader reader{};
  reader.file = platform::OpenForReading(path.c_str());
  EXPECT_TRUE(platform::IsOpen(reader.file));
  std::vector<std::string> pieces;
  char line[kConfigLineSize];
  while (std::size_t length = ReadConfigurationPiece(reader, line)) {
    EXPECT_EQ(line[length], '\0');
    pieces.emplace_back(line, length);
  }
  platform::CloseFile(reader.file);
  return pieces;
}

using P = std::vector<std::string>;

TEST(ConfigReader, ReadsCrLfAsLfAndKeepsALoneCr) {
  EXPECT_EQ(Pieces("a\r\nb\rc\r\n\r\n"), (P{"a\n", "b\rc\n", "\n"}));
  EXPECT_EQ(Pieces("last\r"), (P{"last\r"}));
}

TEST(ConfigReader, StopsAtCtrlZ) {
  EXPECT_EQ(Pieces("size=512\n\x1asize=1024\n"), (P{"size=512\n"}));
  EXPECT_EQ(Pieces("ab\r\x1a\r\n"), (P{"ab\r"}));
}

TEST(ConfigReader, CutsLongLinesIntoPiecesOf255Bytes) {
  const std::string long_line = ";" + std::string(299, 'x') + "\n";
  P pieces = Pieces(long_line + "size=512");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], long_line.substr(0, 255));
  EXPECT_EQ(pieces[1], long_line.substr(255));
  EXPECT_EQ(pieces[2], "size=512");
}

TEST(ConfigReader, ReadsAcrossItsBlockBoundary) {
  // A CR LF pair split across two reads still reads as one LF.
  std::string bytes;
  while (bytes.size() < 4095) bytes += ";" + std::string(99, 'c') + "\n";
  bytes.resize(4095);
  bytes += "\r\nsize=512\n";
  P pieces = Pieces(bytes);
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.back(), "size=512\n");
  EXPECT_EQ(pieces[pieces.size() - 2].back(), '\n');
  EXPECT_EQ(pieces[pieces.size() - 2].find('\r'), std::string::npos);
}

}  // namespace
