#include "common/stored_names.h"

#include <cstring>
#include <initializer_list>

namespace {

bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

char UpperAscii(char byte) {
  return byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - ('a' - 'A')) : byte;
}

// Compares the `length` bytes at `text` with the upper-case `word`, ignoring
// the letter case of `text`.
bool SameWordAnyCase(const char* text, std::size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (UpperAscii(text[i]) != word[i]) return false;
  }
  return true;
}

// The digits after COM and LPT that Windows reserves: 1 .. 9, and the
// superscripts one, two and three, which the code page 1252 holds as 0xB9,
// 0xB2 and 0xB3. The bytes are refused whatever the code page: under another
// one they only refuse a few more names, which is harmless.
bool IsPortDigit(unsigned char byte) {
  return (byte >= '1' && byte <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

}  // namespace

bool HoldsControlByte(const char* name) {
  for (const char* byte = name; *byte != '\0'; ++byte) {
    if (IsControlByte(static_cast<unsigned char>(*byte))) return true;
  }
  return false;
}

bool IsDeviceName(const char* name) {
  const char* stop = std::strchr(name, '.');
  std::size_t length = stop != nullptr ? static_cast<std::size_t>(stop - name) : std::strlen(name);
  // Windows drops trailing blanks (and dots) of a name, so "NUL " and
  // "NUL ." reach the device as well.
  while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.')) --length;
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (SameWordAnyCase(name, length, device)) return true;
  }
  if (length == 4 && IsPortDigit(static_cast<unsigned char>(name[3]))) {
    return SameWordAnyCase(name, 3, "COM") || SameWordAnyCase(name, 3, "LPT");
  }
  return false;
}

const char* EscapeName(const char* name, std::size_t length, char* out, std::size_t capacity) {
  static const char kHexDigits[] = "0123456789abcdef";
  if (capacity == 0) return out;
  std::size_t used = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (!IsControlByte(byte)) {
      if (used + 1 >= capacity) break;
      out[used++] = name[i];
      continue;
    }
    if (used + 4 >= capacity) break;
    out[used++] = '\\';
    out[used++] = 'x';
    out[used++] = kHexDigits[byte >> 4];
    out[used++] = kHexDigits[byte & 0x0F];
  }
  out[used] = '\0';
  return out;
}
