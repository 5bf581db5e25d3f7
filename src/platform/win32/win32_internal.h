// What the Win32 units of the platform layer share among themselves; the
// programs see none of it. Paths are narrow strings in the ANSI code page,
// so only the "A" functions are used.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform::win32 {

inline HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

inline FileHandle FromHandle(HANDLE handle) {
  // INVALID_HANDLE_VALUE is (HANDLE)-1, the same value as kNoFile.
  return FileHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// CREATE_NEW never opens an existing name, a link included. FILE_SHARE_DELETE
// lets the console control handler remove a temporary file still open, and a
// new segment be renamed over its name while it is open.
HANDLE CreateExclusively(const char* path);

bool AlreadyExists(DWORD error);

// A new file under a hidden name of its own beside a file whose folder is
// the first `folder_length` bytes of `path`: ".<process, 8 hex digits>-<n>.tmp",
// of one length whatever the process number and ending in a letter, so that
// it is never a member of a set. The name goes to `beside` (at least
// kArmedPathCapacity bytes). INVALID_HANDLE_VALUE when none can be made;
// `too_long` then says whether the name would not fit.
HANDLE CreateBeside(const char* path, std::size_t folder_length, char* beside, bool* too_long);

// The control unit (win32_control.cpp) owns the console control handlers.
// The longest path of a temporary file that the handler can remove.
inline constexpr std::size_t kArmedPathCapacity = 512;
// The file at `path` is removed by any ending by a console event until it is
// disarmed.
void ArmRemoval(const char* path);
void DisarmRemoval();

// Installs a handler that turns Ctrl+C into a key on `input`, for the length
// of one wait only: outside a wait, Ctrl+C ends the program as usual.
class CtrlCAsKeyDuringWait {
 public:
  explicit CtrlCAsKeyDuringWait(HANDLE input);
  ~CtrlCAsKeyDuringWait();
  CtrlCAsKeyDuringWait(const CtrlCAsKeyDuringWait&) = delete;
  CtrlCAsKeyDuringWait& operator=(const CtrlCAsKeyDuringWait&) = delete;

 private:
  bool installed_ = false;
};

}  // namespace platform::win32
