// The Win32 side of the platform layer. Paths are narrow strings in the
// ANSI code page, so only the "A" functions are used.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>

namespace platform {

const char kPathSeparator = '\\';
const char kNameSeparators[] = "\\/:";

namespace {

// Each ReadFile / WriteFile call moves at most this much, so the DWORD
// counts they take can never overflow, whatever size_t is.
constexpr std::size_t kMaxTransfer = std::size_t{64} << 20;

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

FileHandle FromHandle(HANDLE handle) {
  // INVALID_HANDLE_VALUE is (HANDLE)-1, the same value as kNoFile.
  return FileHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// An OVERLAPPED on a synchronous handle turns ReadFile / WriteFile into a
// positional transfer with a full 64-bit offset.
OVERLAPPED AtOffset(std::uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// Plain byte order (unsigned), not the locale-aware order of lstrcmpA, so
// the choice among several matches is the same on every machine.
bool ByteOrderLess(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return *x < *y;
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

FileHandle OpenForReading(const char* path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened.
  return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle CreateForWriting(const char* path) {
  return FromHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CloseFile(FileHandle file) { return CloseHandle(ToHandle(file)) != FALSE; }

std::int64_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    const std::size_t want = (size - total < kMaxTransfer) ? size - total : kMaxTransfer;
    OVERLAPPED overlapped = AtOffset(offset + total);
    DWORD got = 0;
    if (!ReadFile(ToHandle(file), bytes + total, static_cast<DWORD>(want), &got, &overlapped)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      // Hand back what did arrive; the next call at the following offset
      // meets the error again and reports it.
      return total > 0 ? static_cast<std::int64_t>(total) : -1;
    }
    total += got;
    if (got < want) break;  // end of file
  }
  return static_cast<std::int64_t>(total);
}

bool WriteAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t total = 0;
  while (total < size) {
    const std::size_t want = (size - total < kMaxTransfer) ? size - total : kMaxTransfer;
    OVERLAPPED overlapped = AtOffset(offset + total);
    DWORD put = 0;
    if (!WriteFile(ToHandle(file), bytes + total, static_cast<DWORD>(want), &put, &overlapped)) {
      return false;
    }
    // A write that makes no progress would loop for ever.
    if (put == 0) return false;
    total += put;
  }
  return true;
}

bool RegularFileSize(FileHandle file, std::uint64_t* size) {
  const HANDLE handle = ToHandle(file);
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length) || length.QuadPart < 0) return false;
  *size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

bool SameFile(const char* path_a, const char* path_b) {
  // Attribute access only, sharing everything, so files that others hold
  // open (or that we hold open ourselves) can still be compared.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE a = CreateFileA(path_a, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (a == INVALID_HANDLE_VALUE) return false;
  const HANDLE b = CreateFileA(path_b, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (b == INVALID_HANDLE_VALUE) {
    CloseHandle(a);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info_a;
  BY_HANDLE_FILE_INFORMATION info_b;
  const bool same = GetFileInformationByHandle(a, &info_a) &&
                    GetFileInformationByHandle(b, &info_b) &&
                    info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
                    info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
                    info_a.nFileIndexLow == info_b.nFileIndexLow;
  CloseHandle(b);
  CloseHandle(a);
  return same;
}

// Win32 has no way to move bytes between two open handles inside the
// system; every copy goes through the caller's buffer (common/copy_buffer.h).
CopyPipe OpenCopyPipe(std::size_t /*capacity*/) { return CopyPipe{}; }

void CloseCopyPipe(CopyPipe /*pipe*/) {}

KernelCopyResult KernelCopy(FileHandle /*from*/, std::uint64_t /*from_offset*/,
                            FileHandle /*to*/, std::uint64_t /*to_offset*/, std::uint64_t count,
                            const CopyBuffer& /*buffer*/, KernelRoute /*route*/) {
  return {0, count == 0 ? KernelStop::kFinished : KernelStop::kRefused};
}

EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity) {
  EntryLookup lookup{false, false};
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return lookup;

  // The folder lists matches in whatever order its file system keeps; take
  // the lowest in byte order so that runs are repeatable.
  char best[MAX_PATH];
  best[0] = '\0';
  do {
    if (IsDotEntry(data.cFileName)) continue;
    if (!lookup.found || ByteOrderLess(data.cFileName, best)) {
      lstrcpynA(best, data.cFileName, MAX_PATH);
      lookup.found = true;
    }
  } while (FindNextFileA(search, &data));
  lookup.release_failed = (FindClose(search) == FALSE);

  if (lookup.found && stored_name != nullptr && capacity > 0) {
    const int limit = capacity < MAX_PATH ? static_cast<int>(capacity) : MAX_PATH;
    lstrcpynA(stored_name, best, limit);
  }
  return lookup;
}

void PrepareConsoleOutput() {
  // The C runtime opens stdout in text mode, which would write every "\n"
  // as CR LF into a file or pipe. A console starts a new line on a bare LF
  // anyway, so binary mode changes nothing on screen.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

namespace {

struct ConsoleInput {
  HANDLE handle;
  bool usable;
};

// The console itself, opened once; standard input may be redirected.
ConsoleInput& Console() {
  static ConsoleInput console = [] {
    ConsoleInput opened{CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr),
                        false};
    DWORD mode = 0;
    opened.usable = opened.handle != INVALID_HANDLE_VALUE && GetConsoleMode(opened.handle, &mode);
    return opened;
  }();
  return console;
}

// Puts the console mode back however ReadKey leaves.
class ModeRestorer {
 public:
  ModeRestorer(HANDLE handle, DWORD mode) : handle_(handle), mode_(mode) {}
  ~ModeRestorer() { SetConsoleMode(handle_, mode_); }
  ModeRestorer(const ModeRestorer&) = delete;
  ModeRestorer& operator=(const ModeRestorer&) = delete;

 private:
  HANDLE handle_;
  DWORD mode_;
};

bool IsModifierAlone(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
      return true;
    default:
      return false;
  }
}

// The gray cursor-block keys, the ones that carry ENHANCED_KEY.
bool IsCursorBlockKey(WORD key) {
  switch (key) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_INSERT:
    case VK_DELETE:
      return true;
    default:
      return false;
  }
}

// Character-less keys that the C runtime's getch passes over in silence:
// no key code at all, IME and injected-text placeholders, Pause, F13..F24,
// and the browser / media / launch keys.
bool IsIgnoredKey(WORD key) {
  return key == 0 || key == VK_PROCESSKEY || key == VK_PACKET || key == VK_PAUSE ||
         (key >= VK_F13 && key <= VK_F24) || (key >= VK_BROWSER_BACK && key <= VK_LAUNCH_APP2);
}

// The code for one key-down record, or -2 when the record is not a key press
// that counts.
int KeyCode(const KEY_EVENT_RECORD& key) {
  if (!key.bKeyDown) return -2;
  const WORD virtual_key = key.wVirtualKeyCode;
  if (IsModifierAlone(virtual_key)) return -2;
  if (virtual_key == VK_ESCAPE) return 27;
  if (key.uChar.AsciiChar != 0) return static_cast<unsigned char>(key.uChar.AsciiChar);
  // No character: the lead code getch would give.
  if ((key.dwControlKeyState & ENHANCED_KEY) != 0) {
    return IsCursorBlockKey(virtual_key) ? 224 : -2;
  }
  if (virtual_key == VK_F11 || virtual_key == VK_F12) return 224;
  // F1..F10, the keypad's cursor keys with Num Lock off, and the rest.
  return IsIgnoredKey(virtual_key) ? -2 : 0;
}

}  // namespace

int ReadKey() {
  ConsoleInput& console = Console();
  if (!console.usable) return -1;

  DWORD saved_mode = 0;
  if (!GetConsoleMode(console.handle, &saved_mode)) {
    console.usable = false;
    return -1;
  }
  // Raw mode: no line editing, no echo, and Ctrl+C arrives as a key (3).
  if (!SetConsoleMode(console.handle, 0)) {
    SetConsoleMode(console.handle, saved_mode);
    console.usable = false;
    return -1;
  }
  const ModeRestorer restorer(console.handle, saved_mode);

  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputA(console.handle, &record, 1, &count)) {
      console.usable = false;
      return -1;
    }
    if (count == 0 || record.EventType != KEY_EVENT) continue;
    const int code = KeyCode(record.Event.KeyEvent);
    if (code >= 0) return code;
  }
}

}  // namespace platform
