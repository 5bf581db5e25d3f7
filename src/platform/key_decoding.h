// What one key press means as a key code, apart from any terminal or
// console: the bytes a POSIX terminal sends for a key, and the fields of a
// Win32 console key event. Compiled on every platform, so that both
// decoders are tested wherever the tests run; ReadKey in each platform file
// only reads and hands over what it read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr int kEscapeCode = 27;
// Lead codes of keys without a character: F1 .. F10, F13 and above, and
// keys such as Shift+Tab give 0; the cursor and editing block, F11 and F12
// give 224.
inline constexpr int kFunctionLead = 0;
inline constexpr int kExtendedLead = 224;

enum class KeyStatus {
  kKey,       // `code` is the key's code
  kNeedMore,  // the bytes so far begin a longer sequence
  kNotAKey,   // a report that is no key press (focus in or out): skip it
};

struct DecodedKey {
  KeyStatus status;
  int code;  // 1 .. 255 or a lead code, with kKey only
};

// Decodes the bytes read so far for one key: a character (the first byte
// of a multi-byte character, its other bytes taken along), a lone Escape,
// or a whole escape sequence of a cursor or function key reduced to its
// lead code. `more_may_come` is false once the pause allowed inside one
// sequence has passed without a further byte; the answer is then never
// kNeedMore. Bytes are given one at a time: the first answer other than
// kNeedMore covers all of them.
DecodedKey DecodeKeyBytes(const unsigned char* bytes, std::size_t count, bool more_may_come);

// The fields of a Win32 KEY_EVENT_RECORD that decide the key code, as plain
// data (win32/win32_console.cpp fills it from the record).
struct KeyEventFields {
  bool key_down;
  std::uint16_t virtual_key;
  unsigned char character;     // uChar.AsciiChar in the console's code page
  std::uint32_t control_state;  // dwControlKeyState
};

// The Win32 values the mapping reads (win32/win32_console.cpp checks them
// against <windows.h>).
namespace win32_key {
inline constexpr std::uint32_t kEnhancedKey = 0x0100;  // ENHANCED_KEY
inline constexpr std::uint16_t kShift = 0x10, kControl = 0x11, kMenu = 0x12, kPause = 0x13,
                               kCapital = 0x14, kEscape = 0x1B;
inline constexpr std::uint16_t kPrior = 0x21, kNext = 0x22, kEnd = 0x23, kHome = 0x24,
                               kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28,
                               kInsert = 0x2D, kDelete = 0x2E;
inline constexpr std::uint16_t kLeftWindows = 0x5B, kRightWindows = 0x5C, kApps = 0x5D;
inline constexpr std::uint16_t kF1 = 0x70, kF10 = 0x79, kF11 = 0x7A, kF12 = 0x7B, kF13 = 0x7C,
                               kF24 = 0x87;
inline constexpr std::uint16_t kNumLock = 0x90, kScroll = 0x91;
inline constexpr std::uint16_t kLeftShift = 0xA0, kRightShift = 0xA1, kLeftControl = 0xA2,
                               kRightControl = 0xA3, kLeftMenu = 0xA4, kRightMenu = 0xA5;
inline constexpr std::uint16_t kBrowserBack = 0xA6, kLaunchApp2 = 0xB7;
inline constexpr std::uint16_t kProcessKey = 0xE5, kPacket = 0xE7;
}  // namespace win32_key

// The code of one console key event: kNotAKey for a release, a modifier
// or lock key alone, and the keys that carry neither a character nor a
// lead code (IME placeholders, Pause, the browser and media keys).
DecodedKey DecodeKeyEvent(const KeyEventFields& key);

}  // namespace platform
