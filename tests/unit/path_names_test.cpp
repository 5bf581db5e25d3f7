// Splitting paths into directory part and base name, for both separators.
#include "common/path_names.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "case_names.h"
#include "common/work_buffers.h"

namespace {

struct PathCase {
  const char* name;
  std::string path;
  char separator;
  std::string directory;
  std::string base;
};

class PathSplitTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathSplitTest, GivesDirectoryPartAndBaseName) {
  const PathCase& c = GetParam();
  const PathRules rules{c.separator, kShiftJisLeadBytes};
  EXPECT_EQ(DirectoryPartLength(c.path.c_str(), rules), c.directory.size());
  EXPECT_EQ(c.path.substr(0, DirectoryPartLength(c.path.c_str(), rules)), c.directory);
  std::string buffer = c.path;
  char* result = StripToBaseName(buffer.data(), rules);
  EXPECT_EQ(result, buffer.data());  // in place
  EXPECT_EQ(std::string(result), c.base);
  // The shown name is the same last component, in a buffer of its own.
  char shown[kWorkBufferSize];
  EXPECT_EQ(std::string(DisplayName(shown, c.path.c_str(), rules)), c.base);
}

// 0x95 0x5C is one double-byte character whose second byte is a backslash.
const std::string kTrailBackslashName = "\x95\x5c";
// "テスト" in UTF-8: its last byte, 0x88, lies in the Shift_JIS lead range.
const std::string kUtf8Folder = "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88";

INSTANTIATE_TEST_SUITE_P(
    Paths, PathSplitTest,
    ::testing::Values(
        PathCase{"Full", "C:\\tools\\abc.zip", '\\', "C:\\tools\\", "abc.zip"},
        PathCase{"NoSeparator", "abc.zip", '\\', "", "abc.zip"},
        PathCase{"DriveRelative", "C:abc.zip", '\\', "", "C:abc.zip"},
        PathCase{"SeparatorAtIndexZeroOnly", "\\abc.zip", '\\', "", "\\abc.zip"},
        PathCase{"TrailingSeparator", "C:\\tools\\", '\\', "C:\\tools\\", ""},
        PathCase{"ForwardSlashIsOrdinaryForBackslash", "C:/data/abc.zip.1", '\\', "",
                 "C:/data/abc.zip.1"},
        PathCase{"TrailByteBackslash", "C:\\dir\\" + kTrailBackslashName, '\\', "C:\\dir\\",
                 kTrailBackslashName},
        PathCase{"InvalidTrailResets", "C:\\a\x81\x7f\\b", '\\', "C:\\a\x81\x7f\\", "b"},
        PathCase{"LeadThenBackslashInFolder", "C:\\\x95\\x\\name", '\\', "C:\\\x95\\x\\", "name"},
        PathCase{"Empty", "", '\\', "", ""},
        PathCase{"SlashFull", "/home/u/abc.zip", '/', "/home/u/", "abc.zip"},
        PathCase{"SlashNone", "abc.zip", '/', "", "abc.zip"},
        PathCase{"SlashAtIndexZeroOnly", "/abc.zip", '/', "", "/abc.zip"},
        PathCase{"SlashTrailing", "/home/u/", '/', "/home/u/", ""},
        PathCase{"SlashAfterUtf8Folder", "/home/u/" + kUtf8Folder + "/Trenzik", '/',
                 "/home/u/" + kUtf8Folder + "/", "Trenzik"},
        PathCase{"SlashAfterLeadByte", "dir\x81/name", '/', "dir\x81/", "name"},
        PathCase{"BackslashIsOrdinaryForSlash", "a\\b/c\\d", '/', "a\\b/", "c\\d"}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; });

struct ScanCase {
  std::string text;
  std::ptrdiff_t position;
  int state;
};

class ScanStateTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanStateTest, FollowsLeadAndTrailBytes) {
  EXPECT_EQ(ShiftJisScanState(GetParam().text.c_str(), GetParam().position, kShiftJisLeadBytes),
            GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(
    States, ScanStateTest,
    ::testing::Values(ScanCase{"abc", 0, 0}, ScanCase{"abc", -1, 0}, ScanCase{"abc", 4, 0},
                      ScanCase{"abc", 3, 0}, ScanCase{"\x81", 1, 1},
                      ScanCase{"\x81\x40", 2, 2}, ScanCase{"\x81\x7f", 2, 0},
                      ScanCase{"\x81\x3f", 2, 0}, ScanCase{"\x81\xfc", 2, 2},
                      ScanCase{"\x81\xfd", 2, 0}, ScanCase{"\x9f", 1, 1}, ScanCase{"\xa0", 1, 0},
                      ScanCase{"\xdf", 1, 0}, ScanCase{"\xe0", 1, 1}, ScanCase{"\xfc", 1, 1},
                      ScanCase{"\xfd", 1, 0},
                      // A lead byte right after a completed character starts a new one.
                      ScanCase{"\x81\x40\x81", 3, 1},
                      // The second byte of a pair is never a lead, even in the lead range.
                      ScanCase{"\x81\x81", 2, 2}, ScanCase{"\x81\x81\x5c", 3, 0}),
    [](const ::testing::TestParamInfo<ScanCase>& info) {
      const std::ptrdiff_t at = info.param.position;
      return testkit::NameFromText(info.param.text) + "_At" +
             (at < 0 ? "Minus" + std::to_string(-at) : std::to_string(at));
    });

struct NameCase {
  const char* name;
  std::string text;
  const char* separators;
  bool contains;
};

class SeparatorTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SeparatorTest, FindsSeparatorsButNotSecondHalves) {
  EXPECT_EQ(ContainsSeparator(GetParam().text.c_str(), GetParam().separators, kShiftJisLeadBytes),
            GetParam().contains);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SeparatorTest,
    ::testing::Values(NameCase{"Plain", "abc.zip", "\\/:", false},
                      NameCase{"Slash", "a/b", "\\/:", true},
                      NameCase{"Backslash", "a\\b", "\\/:", true},
                      NameCase{"Colon", "c:x", "\\/:", true},
                      NameCase{"LeadingBackslash", "\\abc", "\\/:", true},
                      // 0x95 0x5C is one character, no separator
                      NameCase{"TrailByteBackslash", kTrailBackslashName + ".zip", "\\/:", false},
                      NameCase{"BackslashAfterACompleteCharacter",
                               kTrailBackslashName + "\\x", "\\/:", true},
                      NameCase{"SlashAfterALeadByte", "a\x81/b", "\\/:", true},
                      NameCase{"ColonAfterALeadByte", "a\x81:b", "\\/:", true},
                      NameCase{"OnlyTheSlashCountsOnPosix", "a\\b:c", "/", false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The lead bytes of the code page in force: code page 932 keeps the fixed
// Shift_JIS ranges, a single-byte page has none, another double-byte page
// uses the system's own.

struct RuleCase {
  const char* name;
  unsigned code_page;
  unsigned max_char_size;
  LeadByteRule rule;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class LeadByteRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(LeadByteRuleTest, FollowsTheCodePage) {
  EXPECT_EQ(ChooseLeadByteRule(GetParam().code_page, GetParam().max_char_size), GetParam().rule);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, LeadByteRuleTest,
    ::testing::Values(RuleCase{"Japanese932", 932, 2, LeadByteRule::kShiftJis},
                      RuleCase{"Western1252", 1252, 1, LeadByteRule::kNone},
                      RuleCase{"CentralEuropean1250", 1250, 1, LeadByteRule::kNone},
                      RuleCase{"Cyrillic1251", 1251, 1, LeadByteRule::kNone},
                      RuleCase{"Greek1253", 1253, 1, LeadByteRule::kNone},
                      RuleCase{"Thai874", 874, 1, LeadByteRule::kNone},
                      RuleCase{"ChineseSimplified936", 936, 2, LeadByteRule::kSystem},
                      RuleCase{"Korean949", 949, 2, LeadByteRule::kSystem},
                      RuleCase{"ChineseTraditional950", 950, 2, LeadByteRule::kSystem},
                      RuleCase{"Utf8", 65001, 4, LeadByteRule::kSystem},
                      // nothing known (POSIX, or the query failed): the fixed ranges
                      RuleCase{"Unknown", 0, 0, LeadByteRule::kShiftJis},
                      RuleCase{"UnknownSize932", 932, 0, LeadByteRule::kShiftJis}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return info.param.name; });

// The lead bytes of code page 936 (0x81..0xFE), as a system would report them.
bool GbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
bool NoSystemLeadByte(unsigned char) { return false; }

const LeadByteTest kNoLeadBytes{LeadByteRule::kNone, nullptr};
const LeadByteTest kGbkLeadBytes{LeadByteRule::kSystem, GbkLeadByte};

struct RulePathCase {
  const char* name;
  std::string path;
  LeadByteTest lead;
  std::string directory;
};

void PrintTo(const RulePathCase& c, std::ostream* os) { *os << c.name; }

class LeadByteRulePathTest : public ::testing::TestWithParam<RulePathCase> {};

TEST_P(LeadByteRulePathTest, SplitsAtTheRightBackslash) {
  const RulePathCase& c = GetParam();
  const PathRules rules{'\\', c.lead};
  EXPECT_EQ(DirectoryPartLength(c.path.c_str(), rules), c.directory.size());
  std::string buffer = c.path;
  EXPECT_EQ(std::string(StripToBaseName(buffer.data(), rules)),
            c.path.substr(c.directory.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LeadByteRulePathTest,
    ::testing::Values(
        // C:\Privé\Trenzik.exe under 1252: é is 0xE9, a Shift_JIS lead byte
        RulePathCase{"AccentBeforeBackslashSingleByte", "C:\\Priv\xe9\\Trenzik.exe", kNoLeadBytes,
                     "C:\\Priv\xe9\\"},
        RulePathCase{"AccentBeforeBackslashShiftJis", "C:\\Priv\xe9\\Trenzik.exe",
                     kShiftJisLeadBytes, "C:\\"},
        RulePathCase{"TrailBackslashSingleByte", "C:\\dir\\\x95\\", kNoLeadBytes,
                     "C:\\dir\\\x95\\"},
        RulePathCase{"TrailBackslashShiftJis", "C:\\dir\\\x95\\", kShiftJisLeadBytes, "C:\\dir\\"},
        // 0xA0 begins a pair under 936 but not in Shift_JIS
        RulePathCase{"Gbk", "C:\\dir\\\xa0\\", kGbkLeadBytes, "C:\\dir\\"},
        RulePathCase{"GbkRangeUnderShiftJis", "C:\\dir\\\xa0\\", kShiftJisLeadBytes,
                     "C:\\dir\\\xa0\\"},
        // the trail rule stays: 0x7F after a lead byte ends the pair
        RulePathCase{"GbkInvalidTrail", "C:\\a\xa0\x7f\\b", kGbkLeadBytes, "C:\\a\xa0\x7f\\"},
        RulePathCase{"SystemWithoutLeadBytes", "C:\\Priv\xe9\\x",
                     LeadByteTest{LeadByteRule::kSystem, NoSystemLeadByte}, "C:\\Priv\xe9\\"}),
    [](const ::testing::TestParamInfo<RulePathCase>& info) { return info.param.name; });

TEST(LeadByteRuleScan, OneByteBeginsAPairOnlyUnderItsRule) {
  for (int byte = 1; byte < 256; ++byte) {
    const char text[2] = {static_cast<char>(byte), '\0'};
    EXPECT_EQ(ShiftJisScanState(text, 1, kNoLeadBytes), 0) << byte;
    EXPECT_EQ(ShiftJisScanState(text, 1, kGbkLeadBytes),
              GbkLeadByte(static_cast<unsigned char>(byte)) ? 1 : 0)
        << byte;
  }
  EXPECT_EQ(ShiftJisScanState("\xa1\xa1", 2, kGbkLeadBytes), 2);
  EXPECT_FALSE(ContainsSeparator("Caf\xe9\\x", "\\/:", kShiftJisLeadBytes));
  EXPECT_TRUE(ContainsSeparator("Caf\xe9\\x", "\\/:", kNoLeadBytes));
}

}  // namespace
