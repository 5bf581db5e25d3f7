// Taking paths apart: the directory part and the last component, aware of
// Shift_JIS double-byte characters so that a name is never cut inside one.
#pragma once

#include <cstddef>

// Scan state after the bytes text[0 .. position-1]:
//   0  the last byte ended a character (single byte, or an invalid trail byte);
//   1  the last byte was a lead byte: the next one is the second half;
//   2  the last byte was a valid trail byte that completed a character.
// 0 at once when position is below 1 or beyond the text's length.
int ShiftJisScanState(const char* text, std::ptrdiff_t position);

// Index where the last component of `path` begins: one past the last
// separator that is not the second half of a double-byte character; 0 when
// there is none. Index 0 is never a separator.
std::size_t BaseNameOffset(const char* path, char separator);

// Rewrites `path` in place to its last component and returns it.
char* StripToBaseName(char* path, char separator);
char* StripToBaseName(char* path);  // with the platform's separator

// Length of the directory part: the path without its last component, the
// separator kept; 0 when the path has no separator.
std::size_t DirectoryPartLength(const char* path, char separator);
std::size_t DirectoryPartLength(const char* path);  // with the platform's separator

// True when `name` holds one of the bytes in `separators` as a byte of its
// own, not as the second half of a double-byte character (a backslash can
// be one, a slash or a colon never).
bool ContainsSeparator(const char* name, const char* separators);
