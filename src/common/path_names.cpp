#include "common/path_names.h"

#include <cstring>

#include "common/work_buffers.h"
#include "platform/platform.h"

namespace {

bool IsShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsLeadByte(unsigned char byte, LeadByteTest lead) {
  switch (lead.rule) {
    case LeadByteRule::kShiftJis:
      return IsShiftJisLeadByte(byte);
    case LeadByteRule::kNone:
      return false;
    case LeadByteRule::kSystem:
      return lead.system_lead != nullptr && lead.system_lead(byte);
  }
  return false;
}

bool IsValidTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

}  // namespace

LeadByteRule ChooseLeadByteRule(unsigned code_page, unsigned max_char_size) {
  if (max_char_size == 1) return LeadByteRule::kNone;
  if (code_page == 932 || max_char_size == 0) return LeadByteRule::kShiftJis;
  return LeadByteRule::kSystem;
}

LeadByteTest PathLeadBytes() {
  const platform::NarrowCodePage page = platform::PathCodePage();
  const LeadByteRule rule = ChooseLeadByteRule(page.number, page.max_char_size);
  // Without the system's own test there is nothing better than the fixed ranges.
  if (rule == LeadByteRule::kSystem && page.is_lead_byte == nullptr) return kShiftJisLeadBytes;
  return LeadByteTest{rule, page.is_lead_byte};
}

PathRules SystemPathRules() { return PathRules{platform::kPathSeparator, PathLeadBytes()}; }

int ShiftJisScanState(const char* text, std::ptrdiff_t position, LeadByteTest lead) {
  if (position < 1 || static_cast<std::size_t>(position) > std::strlen(text)) return 0;
  int state = 0;
  for (std::ptrdiff_t i = 0; i < position; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (state == 1) {
      state = IsValidTrailByte(byte) ? 2 : 0;
    } else {
      state = IsLeadByte(byte, lead) ? 1 : 0;
    }
  }
  return state;
}

namespace {

// A separator byte is the second half of a double-byte character only if it
// can be one: the backslash can, the slash never (so a UTF-8 name ending in
// a lead-range byte does not hide the slash after it).
bool IsSecondHalf(const char* text, std::size_t i, LeadByteTest lead) {
  return IsValidTrailByte(static_cast<unsigned char>(text[i])) &&
         ShiftJisScanState(text, static_cast<std::ptrdiff_t>(i), lead) == 1;
}

}  // namespace

std::size_t BaseNameOffset(const char* path, char separator, LeadByteTest lead) {
  const std::size_t length = std::strlen(path);
  for (std::size_t i = length > 0 ? length - 1 : 0; i >= 1; --i) {
    if (path[i] == separator && !IsSecondHalf(path, i, lead)) return i + 1;
  }
  return 0;
}

bool ContainsSeparator(const char* name, const char* separators, LeadByteTest lead) {
  for (std::size_t i = 0; name[i] != '\0'; ++i) {
    if (std::strchr(separators, name[i]) != nullptr && !IsSecondHalf(name, i, lead)) return true;
  }
  return false;
}

char* StripToBaseName(char* path, const PathRules& rules) {
  std::size_t offset = BaseNameOffset(path, rules.separator, rules.lead);
  if (offset > 0) std::memmove(path, path + offset, std::strlen(path + offset) + 1);
  return path;
}

const char* DisplayName(char* buffer, const char* path, const PathRules& rules) {
  CopyText(buffer, path);
  return StripToBaseName(buffer, rules);
}

std::size_t DirectoryPartLength(const char* path, const PathRules& rules) {
  return BaseNameOffset(path, rules.separator, rules.lead);
}
