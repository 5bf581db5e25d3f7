// Rules for file names that come from disk or from a segment header: which
// of them a run may create or print as they are, and how a refused one is
// shown without letting its bytes drive the user's terminal.
#pragma once

#include <cstddef>

// True when `name` holds a control byte, 0x01 .. 0x1F or 0x7F. Bytes 0x80 ..
// 0xFF are ordinary name bytes (code-page and Shift_JIS names).
bool HoldsControlByte(const char* name);

// True when `name` names a Windows device: its part before the first full
// stop, in any letter case and with trailing blanks ignored, is CON, PRN,
// AUX, NUL, COM1 .. COM9, LPT1 .. LPT9, or COM or LPT followed by a
// superscript one, two or three (bytes 0xB9, 0xB2, 0xB3 of the code page
// 1252).
bool IsDeviceName(const char* name);

// Room EscapeName needs for a name of `length` bytes: four per byte and a NUL.
constexpr std::size_t EscapedNameSize(std::size_t length) { return 4 * length + 1; }

// Writes the `length` bytes of `name` into `out` (`capacity` bytes, NUL
// included) with every byte 0x00 .. 0x1F and 0x7F as \xNN (two lower-case
// hexadecimal digits). When it does not fit, it stops before the first byte
// or escape that would not; it never cuts an escape. Returns `out`.
const char* EscapeName(const char* name, std::size_t length, char* out, std::size_t capacity);
