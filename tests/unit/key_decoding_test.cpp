// The two key decoders, apart from any terminal: the bytes a terminal sends
// for one key, and the fields of a Win32 console key event. Both give the
// same codes for the same keys (F13 and above too).
#include "platform/key_decoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::DecodedKey;
using platform::KeyStatus;
namespace vk = platform::win32_key;

constexpr int kLead0 = platform::kFunctionLead;
constexpr int kLead224 = platform::kExtendedLead;
constexpr int kSkip = -1;  // expected: no key press (KeyStatus::kNotAKey)

struct BytesCase {
  const char* name;
  std::string bytes;
  bool ends_by_pause;  // only the pause after the last byte ends the sequence
  int code;            // or kSkip
};

DecodedKey Decode(const std::string& bytes, std::size_t count, bool more_may_come) {
  return platform::DecodeKeyBytes(reinterpret_cast<const unsigned char*>(bytes.data()), count,
                                  more_may_come);
}

void ExpectKey(const DecodedKey& key, int code) {
  if (code == kSkip) {
    EXPECT_EQ(key.status, KeyStatus::kNotAKey);
  } else {
    EXPECT_EQ(key.status, KeyStatus::kKey);
    EXPECT_EQ(key.code, code);
  }
}

class KeyBytesTest : public ::testing::TestWithParam<BytesCase> {};

TEST_P(KeyBytesTest, AsksForMoreUntilTheKeyIsWhole) {
  const BytesCase& c = GetParam();
  const std::size_t n = c.bytes.size();
  for (std::size_t count = 1; count < n; ++count) {
    EXPECT_EQ(Decode(c.bytes, count, true).status, KeyStatus::kNeedMore) << "after " << count;
  }
  if (c.ends_by_pause) {
    EXPECT_EQ(Decode(c.bytes, n, true).status, KeyStatus::kNeedMore);
    ExpectKey(Decode(c.bytes, n, false), c.code);
  } else {
    ExpectKey(Decode(c.bytes, n, true), c.code);
  }
}

const BytesCase kBytesCases[] = {
    {"LetterY", "y", false, 'y'},
    {"Enter", "\r", false, 13},
    {"CtrlC", "\x03", false, 3},
    {"LoneContinuationByte", "\x80", false, 0x80},
    {"Utf8TwoBytes", "\xc3\xa9", false, 0xC3},
    {"Utf8ThreeBytes", "\xe2\x82\xac", false, 0xE2},
    {"Utf8FourBytes", "\xf0\x9f\x98\x80", false, 0xF0},
    // A single-byte code page's letter that looks like a lead byte.
    {"LeadByteAloneEndsAtThePause", "\xe9", true, 0xE9},
    {"Escape", "\x1b", true, 27},
    {"AltX", "\x1bx", false, kLead0},
    {"CursorUp", "\x1b[A", false, kLead224},
    {"CursorUpSs3", "\x1bOA", false, kLead224},
    {"F1Ss3", "\x1bOP", false, kLead0},
    {"Ss3BrokenOff", "\x1bO", true, kLead0},
    {"Home", "\x1b[1~", false, kLead224},
    {"Delete", "\x1b[3~", false, kLead224},
    {"PageDownWithCtrl", "\x1b[6;5~", false, kLead224},
    {"F5", "\x1b[15~", false, kLead0},
    {"F10", "\x1b[21~", false, kLead0},
    {"F11", "\x1b[23~", false, kLead224},
    {"F12", "\x1b[24~", false, kLead224},
    {"F13", "\x1b[25~", false, kLead0},
    {"F20", "\x1b[34~", false, kLead0},
    {"ShiftF3", "\x1b[1;2R", false, kLead0},
    {"ShiftTab", "\x1b[Z", false, kLead0},
    {"Keypad5", "\x1b[E", false, kLead0},
    {"LinuxConsoleF1", "\x1b[[A", false, kLead0},
    {"CsiBrokenOff", "\x1b[", true, kLead224},
    {"CsiBrokenOffInItsParameters", "\x1b[6;5", true, kLead224},
    {"ParameterTooLongForAnyNumber", "\x1b[" + std::string(30, '9') + "~", false, kLead0},
    {"FocusIn", "\x1b[I", false, kSkip},
    {"FocusOut", "\x1b[O", false, kSkip},
};

INSTANTIATE_TEST_SUITE_P(Terminal, KeyBytesTest, ::testing::ValuesIn(kBytesCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct EventCase {
  const char* name;
  platform::KeyEventFields fields;
  int code;  // or kSkip
};

constexpr std::uint32_t kLeftCtrlPressed = 0x0008;

class KeyEventTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(KeyEventTest, GivesTheCodeOfTheKey) {
  ExpectKey(platform::DecodeKeyEvent(GetParam().fields), GetParam().code);
}

const EventCase kEventCases[] = {
    {"LetterY", {true, 0x59, 'y', 0}, 'y'},
    {"Release", {false, 0x59, 'y', 0}, kSkip},
    {"CodePageCharacter", {true, 0xDE, 0xE9, 0}, 0xE9},
    {"Enter", {true, 0x0D, '\r', 0}, 13},
    {"KeypadEnterIsEnhancedAndStillACharacter", {true, 0x0D, '\r', vk::kEnhancedKey}, 13},
    {"CtrlC", {true, 0x43, 3, kLeftCtrlPressed}, 3},
    {"Escape", {true, vk::kEscape, 27, 0}, 27},
    {"EscapeWithoutACharacter", {true, vk::kEscape, 0, 0}, 27},
    {"ShiftAlone", {true, vk::kShift, 0, 0}, kSkip},
    {"RightControlAlone", {true, vk::kRightControl, 0, vk::kEnhancedKey}, kSkip},
    {"CapsLockAlone", {true, vk::kCapital, 0, 0}, kSkip},
    {"WindowsKeyAlone", {true, vk::kLeftWindows, 0, vk::kEnhancedKey}, kSkip},
    {"CursorUp", {true, vk::kUp, 0, vk::kEnhancedKey}, kLead224},
    {"Delete", {true, vk::kDelete, 0, vk::kEnhancedKey}, kLead224},
    // Wine marks no key as enhanced; Num Lock off turns the keypad into these.
    {"CursorUpWithoutTheEnhancedFlag", {true, vk::kUp, 0, 0}, kLead0},
    {"EnhancedKeyOutsideTheCursorBlock", {true, 0x2C, 0, vk::kEnhancedKey}, kSkip},
    {"F1", {true, vk::kF1, 0, 0}, kLead0},
    {"F10", {true, vk::kF10, 0, 0}, kLead0},
    {"F11", {true, vk::kF11, 0, 0}, kLead224},
    {"F12", {true, vk::kF12, 0, 0}, kLead224},
    {"F13", {true, vk::kF13, 0, 0}, kLead0},
    {"F24", {true, vk::kF24, 0, 0}, kLead0},
    {"Pause", {true, vk::kPause, 0, 0}, kSkip},
    {"BrowserBack", {true, vk::kBrowserBack, 0, vk::kEnhancedKey}, kSkip},
    {"LaunchApp2", {true, vk::kLaunchApp2, 0, 0}, kSkip},
    {"ImePlaceholder", {true, vk::kProcessKey, 0, 0}, kSkip},
    {"InjectedText", {true, vk::kPacket, 0, 0}, kSkip},
    {"NoVirtualKey", {true, 0, 0, 0}, kSkip},
};

INSTANTIATE_TEST_SUITE_P(Console, KeyEventTest, ::testing::ValuesIn(kEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
