// Splitting paths into directory part and base name, for both separators.
#include "common/path_names.h"

#include <gtest/gtest.h>

#include <string>

#include "case_names.h"

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
  EXPECT_EQ(DirectoryPartLength(c.path.c_str(), c.separator), c.directory.size());
  EXPECT_EQ(c.path.substr(0, DirectoryPartLength(c.path.c_str(), c.separator)), c.directory);
  std::string buffer = c.path;
  char* result = StripToBaseName(buffer.data(), c.separator);
  EXPECT_EQ(result, buffer.data());  // in place
  EXPECT_EQ(std::string(result), c.base);
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
  EXPECT_EQ(ShiftJisScanState(GetParam().text.c_str(), GetParam().position), GetParam().state);
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
  EXPECT_EQ(ContainsSeparator(GetParam().text.c_str(), GetParam().separators),
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

}  // namespace
