// The name rules: which stored names hold control bytes, which name a
// Windows device, and how a refused name is shown.
#include "common/stored_names.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

struct NameCase {
  const char* label;
  std::string name;
  bool expected;
};

std::string CaseLabel(const ::testing::TestParamInfo<NameCase>& info) { return info.param.label; }

class ControlByteTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ControlByteTest, FindsEveryControlByteAndNoOtherByte) {
  EXPECT_EQ(HoldsControlByte(GetParam().name.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ControlByteTest,
    ::testing::Values(NameCase{"Plain", "abc.zip", false}, NameCase{"Empty", "", false},
                      NameCase{"Blank", "a b.zip", false}, NameCase{"Tilde", "a~.zip", false},
                      NameCase{"Latin1", "caf\xe9.txt", false},
                      NameCase{"ShiftJis", "\x83\x5c\x83\x74.txt", false},
                      NameCase{"HighestByte", "\xff.bin", false},
                      NameCase{"Byte80", "\x80.bin", false}, NameCase{"Byte01", "\x01", true},
                      NameCase{"Escape", "x\x1b[2J", true}, NameCase{"Bell", "a\x07.zip", true},
                      NameCase{"LineFeed", "a\nb", true}, NameCase{"CarriageReturn", "a\rb", true},
                      NameCase{"Tab", "a\tb", true}, NameCase{"Byte1F", "\x1f", true},
                      NameCase{"Delete", "del\x7f", true},
                      NameCase{"ControlAtTheEnd", "abc.zip\x1b", true}),
    CaseLabel);

class DeviceNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DeviceNameTest, KnowsTheDevicesByTheirFirstPart) {
  EXPECT_EQ(IsDeviceName(GetParam().name.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceNameTest,
    ::testing::Values(
        NameCase{"Nul", "NUL", true}, NameCase{"Con", "CON", true}, NameCase{"Prn", "PRN", true},
        NameCase{"Aux", "AUX", true}, NameCase{"LowerCase", "nul", true},
        NameCase{"MixedCase", "cOn", true}, NameCase{"WithExtension", "aux.txt", true},
        NameCase{"Com1Zip", "COM1.zip", true}, NameCase{"Com1LowerZip", "com1.zip", true},
        NameCase{"Com9", "COM9", true}, NameCase{"Lpt1", "LPT1", true},
        NameCase{"Lpt9", "lpt9.doc", true}, NameCase{"TwoExtensions", "nul.tar.gz", true},
        NameCase{"TrailingBlank", "NUL ", true}, NameCase{"BlankBeforeStop", "CON .txt", true},
        NameCase{"TrailingDot", "PRN.", true}, NameCase{"TrailingBlanksAndDots", "AUX . .", true},
        NameCase{"Com0", "COM0", false}, NameCase{"Com10", "COM10", false},
        NameCase{"Lpt", "LPT", false}, NameCase{"Com", "com.zip", false},
        NameCase{"LongerWord", "NULL", false}, NameCase{"Console", "console.txt", false},
        NameCase{"DeviceLater", "abc.nul", false}, NameCase{"DeviceInside", "anul.zip", false},
        NameCase{"LeadingBlank", " NUL", false}, NameCase{"Plain", "abc.zip", false},
        NameCase{"Empty", "", false}, NameCase{"OnlyAStop", ".nul", false},
        NameCase{"ComSuperscriptOne", "COM\xb9", true},
        NameCase{"ComSuperscriptTwoZip", "com\xb2.zip", true},
        NameCase{"LptSuperscriptThree", "Lpt\xb3 .txt", true},
        NameCase{"LptSuperscriptOne", "LPT\xb9", true},
        NameCase{"DegreeSign", "COM\xb0", false},
        NameCase{"OtherHighByte", "COM\xb4", false},
        NameCase{"AccentedLetter", "COM\xe9", false},
        NameCase{"SuperscriptAfterDigit", "COM1\xb9", false}),
    CaseLabel);

// Only the Win32 build, whose separator is the backslash, has devices in
// every folder.
TEST(DeviceNames, AreRefusedOnWindowsOnly) {
  EXPECT_EQ(platform::kRefusesDeviceNames, platform::kPathSeparator == '\\');
}

struct EscapeCase {
  const char* label;
  std::string name;
  std::size_t capacity;
  std::string shown;
};

class EscapeNameTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeNameTest, WritesControlBytesAsHexAndStaysInItsBuffer) {
  const EscapeCase& c = GetParam();
  // Guard bytes after the buffer show any write past its end.
  std::string buffer(c.capacity + 8, '#');
  const char* result = EscapeName(c.name.data(), c.name.size(), buffer.data(), c.capacity);
  EXPECT_EQ(result, buffer.data());
  EXPECT_EQ(std::string(result), c.shown);
  EXPECT_EQ(buffer.substr(c.capacity), std::string(8, '#'));
}

const std::size_t kRoomy = 64;

INSTANTIATE_TEST_SUITE_P(
    Names, EscapeNameTest,
    ::testing::Values(
        EscapeCase{"Plain", "abc.zip", kRoomy, "abc.zip"},
        EscapeCase{"HighBytesStay", "caf\xe9\x83\x5c", kRoomy, "caf\xe9\x83\x5c"},
        EscapeCase{"ScreenClear", "x\x1b[2J\x1b[H ok", kRoomy, "x\\x1b[2J\\x1b[H ok"},
        EscapeCase{"TitleAndBell", "\x1b]0;t\x07z", kRoomy, "\\x1b]0;t\\x07z"},
        EscapeCase{"LineFeed", "a\nb", kRoomy, "a\\x0ab"},
        EscapeCase{"Delete", "\x7f", kRoomy, "\\x7f"},
        EscapeCase{"Byte1F", "\x1f", kRoomy, "\\x1f"},
        EscapeCase{"NulInside", std::string("ab\0cd", 5), kRoomy, "ab\\x00cd"},
        EscapeCase{"Empty", "", kRoomy, ""},
        EscapeCase{"ExactFit", "a\x1b", 6, "a\\x1b"},
        EscapeCase{"NoRoomForTheEscape", "a\x1b", 5, "a"},
        EscapeCase{"NoRoomForTheLastByte", "abc", 3, "ab"},
        EscapeCase{"OnlyTheTerminator", "abc", 1, ""},
        EscapeCase{"WorstCase", std::string(3, '\x01'), EscapedNameSize(3),
                   "\\x01\\x01\\x01"}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.label; });

TEST(EscapeName, LeavesNoControlByteInTheLongestName) {
  std::string name;
  for (int i = 0; i < 255; ++i) name += static_cast<char>(i % 2 == 0 ? i % 0x20 : 0x7f);
  std::string buffer(EscapedNameSize(name.size()), '#');
  EscapeName(name.data(), name.size(), buffer.data(), buffer.size());
  const std::string shown(buffer.c_str());
  EXPECT_EQ(shown.size(), 4 * name.size());  // every byte fitted as an escape
  for (char byte : shown) {
    const auto value = static_cast<unsigned char>(byte);
    EXPECT_FALSE(value < 0x20 || value == 0x7f) << "byte " << static_cast<int>(value);
  }
}

TEST(EscapeName, WithoutRoomWritesNothing) {
  char untouched = '#';
  EscapeName("abc", 3, &untouched, 0);
  EXPECT_EQ(untouched, '#');
}

}  // namespace
