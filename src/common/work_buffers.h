// Work buffers: fixed 512-byte buffers, each holding one NUL-terminated
// narrow string of the run (a path or a file name). Every composition goes
// through these helpers, which refuse rather than write past the end.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kWorkBufferSize = 512;

// Copies `text` into `buffer`; false, leaving `buffer` empty, when it does not fit.
bool CopyText(char* buffer, const char* text);
// Copies the first `length` bytes of `text`; false when they do not fit.
bool CopyPrefix(char* buffer, const char* text, std::size_t length);
// Appends `text`; false, leaving `buffer` unchanged, when the result does not fit.
bool AppendText(char* buffer, const char* text);
// Appends `number` in plain decimal, no leading zeros; a negative one keeps
// its minus sign (a header may hold a negative count).
bool AppendNumber(char* buffer, std::int32_t number);
