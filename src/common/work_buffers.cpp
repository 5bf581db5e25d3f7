#include "common/work_buffers.h"

#include <cstdio>
#include <cstring>

bool CopyText(char* buffer, const char* text) {
  return CopyPrefix(buffer, text, std::strlen(text));
}

bool CopyPrefix(char* buffer, const char* text, std::size_t length) {
  if (length >= kWorkBufferSize) {
    buffer[0] = '\0';
    return false;
  }
  std::memmove(buffer, text, length);
  buffer[length] = '\0';
  return true;
}

bool AppendText(char* buffer, const char* text) {
  std::size_t used = std::strlen(buffer);
  std::size_t added = std::strlen(text);
  if (used + added >= kWorkBufferSize) return false;
  std::memcpy(buffer + used, text, added + 1);
  return true;
}

bool AppendNumber(char* buffer, std::int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(number));
  return AppendText(buffer, digits);
}
