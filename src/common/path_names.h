// Taking paths apart: the directory part and the last component, aware of
// double-byte characters so that a name is never cut inside one.
#pragma once

#include <cstddef>

// Which bytes begin a double-byte character in the code page of the paths.
enum class LeadByteRule {
  kShiftJis,  // the fixed Shift_JIS ranges 0x81..0x9F and 0xE0..0xFC
  kNone,      // a single-byte code page: no byte begins a pair
  kSystem,    // another double-byte code page: the system's own lead bytes
};

// The lead-byte test a scan uses. `system_lead` answers for kSystem only.
struct LeadByteTest {
  LeadByteRule rule;
  bool (*system_lead)(unsigned char byte);
};
inline constexpr LeadByteTest kShiftJisLeadBytes{LeadByteRule::kShiftJis, nullptr};

// The rule for a code page as the system describes it: its number and the
// length of its longest character in bytes (0 for either when unknown).
// Code page 932 keeps the fixed Shift_JIS ranges; a single-byte page has no
// lead bytes; every other multibyte page uses the system's own; an unknown
// page keeps the fixed ranges.
LeadByteRule ChooseLeadByteRule(unsigned code_page, unsigned max_char_size);

// The test for this system's paths, from the platform's narrow code page.
LeadByteTest PathLeadBytes();

// How paths are taken apart: the separator and the lead-byte test. A run
// asks the system once (SystemPathRules) and passes its rules along.
struct PathRules {
  char separator;
  LeadByteTest lead;
};
PathRules SystemPathRules();  // the platform's separator and PathLeadBytes()

// Scan state after the bytes text[0 .. position-1]:
//   0  the last byte ended a character (single byte, or an invalid trail byte);
//   1  the last byte was a lead byte: the next one is the second half;
//   2  the last byte was a valid trail byte that completed a character.
// 0 at once when position is below 1 or beyond the text's length. Trail
// bytes are 0x40..0xFC without 0x7F under every rule.
int ShiftJisScanState(const char* text, std::ptrdiff_t position, LeadByteTest lead);

// Index where the last component of `path` begins: one past the last
// separator that is not the second half of a double-byte character; 0 when
// there is none. Index 0 is never a separator.
std::size_t BaseNameOffset(const char* path, char separator, LeadByteTest lead);

// Rewrites `path` in place to its last component and returns it.
char* StripToBaseName(char* path, const PathRules& rules);

// The name a message shows for `path`: its last component, copied into the
// work buffer `buffer` (left empty when the path does not fit one), which it
// returns. `buffer` may be `path` itself.
const char* DisplayName(char* buffer, const char* path, const PathRules& rules);

// Length of the directory part: the path without its last component, the
// separator kept; 0 when the path has no separator.
std::size_t DirectoryPartLength(const char* path, const PathRules& rules);

// True when `name` holds one of the bytes in `separators` as a byte of its
// own, not as the second half of a double-byte character (a backslash can
// be one, a slash or a colon never).
bool ContainsSeparator(const char* name, const char* separators, LeadByteTest lead);
