#include "common/path_names.h"

#include <cstring>

#include "platform/platform.h"

namespace {

bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsValidTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

}  // namespace

int ShiftJisScanState(const char* text, std::ptrdiff_t position) {
  if (position < 1 || static_cast<std::size_t>(position) > std::strlen(text)) return 0;
  int state = 0;
  for (std::ptrdiff_t i = 0; i < position; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (state == 1) {
      state = IsValidTrailByte(byte) ? 2 : 0;
    } else {
      state = IsLeadByte(byte) ? 1 : 0;
    }
  }
  return state;
}

namespace {

// A separator byte is the second half of a double-byte character only if it
// can be one: the backslash can, the slash never (so a UTF-8 name ending in
// a lead-range byte does not hide the slash after it).
bool IsSecondHalf(const char* text, std::size_t i) {
  return IsValidTrailByte(static_cast<unsigned char>(text[i])) &&
         ShiftJisScanState(text, static_cast<std::ptrdiff_t>(i)) == 1;
}

}  // namespace

std::size_t BaseNameOffset(const char* path, char separator) {
  const std::size_t length = std::strlen(path);
  for (std::size_t i = length > 0 ? length - 1 : 0; i >= 1; --i) {
    if (path[i] == separator && !IsSecondHalf(path, i)) return i + 1;
  }
  return 0;
}

bool ContainsSeparator(const char* name, const char* separators) {
  for (std::size_t i = 0; name[i] != '\0'; ++i) {
    if (std::strchr(separators, name[i]) != nullptr && !IsSecondHalf(name, i)) return true;
  }
  return false;
}

char* StripToBaseName(char* path, char separator) {
  std::size_t offset = BaseNameOffset(path, separator);
  if (offset > 0) std::memmove(path, path + offset, std::strlen(path + offset) + 1);
  return path;
}

char* StripToBaseName(char* path) { return StripToBaseName(path, platform::kPathSeparator); }

std::size_t DirectoryPartLength(const char* path, char separator) {
  return BaseNameOffset(path, separator);
}

std::size_t DirectoryPartLength(const char* path) {
  return DirectoryPartLength(path, platform::kPathSeparator);
}
