// Names and paths as the console shows them. Any byte of a file name may
// come from somebody else's disk or command line, and a control byte
// printed raw moves the cursor, retitles the window or fakes lines of
// output: every name or path a message carries goes through here first.
#pragma once

#include <cstring>

#include "common/stored_names.h"
#include "common/work_buffers.h"

// The shown form of one name or path (at most a work buffer's worth):
// bytes 0x01 .. 0x1F and 0x7F as \xNN, every other byte as it is, so that
// code-page and Shift_JIS names read as they are. It lives for the message:
//   Say(frame, format, ShownName(path).text);
struct ShownName {
  explicit ShownName(const char* name) {
    EscapeName(name, std::strlen(name), text, sizeof text);
  }
  char text[EscapedNameSize(kWorkBufferSize - 1)];
};
