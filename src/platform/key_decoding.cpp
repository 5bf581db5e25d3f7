#include "platform/key_decoding.h"

namespace platform {

namespace {

constexpr DecodedKey kNeedMore{KeyStatus::kNeedMore, -1};
constexpr DecodedKey kNotAKey{KeyStatus::kNotAKey, -1};

constexpr DecodedKey Key(int code) { return {KeyStatus::kKey, code}; }

// The bytes that follow a UTF-8 lead byte; 0 for anything else.
std::size_t ContinuationCount(unsigned char lead) {
  if (lead < 0xC2 || lead > 0xF4) return 0;
  return lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
}

// The first decimal parameter of a CSI sequence, 0 when it has none; capped
// so that a long run of digits cannot overflow.
int FirstParameter(const unsigned char* params, std::size_t length) {
  int number = 0;
  for (std::size_t i = 0; i < length && params[i] >= '0' && params[i] <= '9'; ++i) {
    if (number < 1000) number = number * 10 + (params[i] - '0');
  }
  return number;
}

// Lead code of "ESC [ params final", as the Win32 console input reports
// the same key; `final_byte` is -1 when the sequence broke off.
int CsiLeadCode(const unsigned char* params, std::size_t length, int final_byte) {
  switch (final_byte) {
    case 'P': case 'Q': case 'R': case 'S':  // F1..F4 with modifiers
    case 'Z':                                // Shift+Tab
    case 'E':                                // keypad 5
      return kFunctionLead;
    case '~': {
      const int number = FirstParameter(params, length);
      if (number >= 11 && number <= 21) return kFunctionLead;  // F1..F10
      if (number >= 25) return kFunctionLead;                  // F13 and above
      return kExtendedLead;  // Home, Insert, Delete, End, Page Up/Down, F11, F12
    }
    default:
      return kExtendedLead;  // arrows, Home, End
  }
}

bool IsParameterByte(unsigned char byte) { return byte >= 0x20 && byte < 0x40; }

// After "ESC [": parameter and intermediate bytes up to a final byte.
DecodedKey DecodeCsi(const unsigned char* rest, std::size_t count, bool more_may_come) {
  if (count >= 1 && rest[0] == '[') {  // Linux console F1..F5: ESC [ [ A .. E
    return count == 1 && more_may_come ? kNeedMore : Key(kFunctionLead);
  }
  std::size_t length = 0;
  while (length < count && IsParameterByte(rest[length])) ++length;
  if (length == count) {
    return more_may_come ? kNeedMore : Key(CsiLeadCode(rest, length, -1));
  }
  const unsigned char final_byte = rest[length];
  if (length == 0 && (final_byte == 'I' || final_byte == 'O')) return kNotAKey;
  return Key(CsiLeadCode(rest, length, final_byte));
}

bool IsModifierAlone(std::uint16_t key) {
  using namespace win32_key;
  switch (key) {
    case kShift: case kControl: case kMenu:
    case kLeftShift: case kRightShift: case kLeftControl: case kRightControl:
    case kLeftMenu: case kRightMenu:
    case kCapital: case kNumLock: case kScroll:
    case kLeftWindows: case kRightWindows: case kApps:
      return true;
    default:
      return false;
  }
}

// The gray cursor-block keys, the ones that carry the enhanced-key flag.
bool IsCursorBlockKey(std::uint16_t key) {
  using namespace win32_key;
  switch (key) {
    case kPrior: case kNext: case kEnd: case kHome:
    case kLeft: case kUp: case kRight: case kDown:
    case kInsert: case kDelete:
      return true;
    default:
      return false;
  }
}

// Character-less keys that give no key code at all: no virtual key, IME and
// injected-text placeholders, Pause, and the browser / media / launch keys.
// F13 .. F24 are function keys like F1 .. F10 and give the lead code 0, as
// a terminal's sequences for them do.
bool IsIgnoredKey(std::uint16_t key) {
  using namespace win32_key;
  return key == 0 || key == kProcessKey || key == kPacket || key == kPause ||
         (key >= kBrowserBack && key <= kLaunchApp2);
}

}  // namespace

DecodedKey DecodeKeyBytes(const unsigned char* bytes, std::size_t count, bool more_may_come) {
  if (count == 0) return kNeedMore;
  const unsigned char first = bytes[0];
  if (first != kEscapeCode) {
    // A multi-byte character answers with its first byte; the rest is
    // taken along so that it answers no later wait.
    return count <= ContinuationCount(first) && more_may_come ? kNeedMore : Key(first);
  }
  if (count == 1) return more_may_come ? kNeedMore : Key(kEscapeCode);
  const unsigned char second = bytes[1];
  if (second == 'O') {  // SS3: ESC O x
    if (count == 2) return more_may_come ? kNeedMore : Key(kFunctionLead);
    const unsigned char key = bytes[2];
    const bool f1_to_f4 = key == 'P' || key == 'Q' || key == 'R' || key == 'S';
    return Key(f1_to_f4 ? kFunctionLead : kExtendedLead);
  }
  if (second != '[') return Key(kFunctionLead);  // Alt with a key
  return DecodeCsi(bytes + 2, count - 2, more_may_come);
}

DecodedKey DecodeKeyEvent(const KeyEventFields& key) {
  if (!key.key_down || IsModifierAlone(key.virtual_key)) return kNotAKey;
  if (key.virtual_key == win32_key::kEscape) return Key(kEscapeCode);
  if (key.character != 0) return Key(key.character);
  // No character: the lead code of the key.
  if ((key.control_state & win32_key::kEnhancedKey) != 0) {
    return IsCursorBlockKey(key.virtual_key) ? Key(kExtendedLead) : kNotAKey;
  }
  if (key.virtual_key == win32_key::kF11 || key.virtual_key == win32_key::kF12) {
    return Key(kExtendedLead);
  }
  // F1..F10, F13..F24, the keypad's cursor keys with Num Lock off, and the rest.
  return IsIgnoredKey(key.virtual_key) ? kNotAKey : Key(kFunctionLead);
}

}  // namespace platform
