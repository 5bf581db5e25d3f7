// The Win32 side of the platform layer. Paths are narrow strings in the
// ANSI code page, so only the "A" functions are used.
#include "platform/platform.h"

#include "platform/key_decoding.h"

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

CopyOutcome CopyRange(FileHandle from, std::uint64_t from_offset, FileHandle to,
                      std::uint64_t to_offset, std::uint64_t count, CopyBuffer buffer) {
  // Win32 has no in-place copy between two open handles; go through the buffer.
  CopyOutcome outcome{0, CopyFailure::kNone};
  while (outcome.copied < count) {
    const std::uint64_t left = count - outcome.copied;
    const std::size_t want = (left < buffer.size) ? static_cast<std::size_t>(left) : buffer.size;
    const std::int64_t got = ReadAt(from, from_offset + outcome.copied, buffer.bytes, want);
    if (got < 0) {
      outcome.failure = CopyFailure::kRead;
      break;
    }
    if (got == 0) break;  // the input ended early
    if (!WriteAt(to, to_offset + outcome.copied, buffer.bytes, static_cast<std::size_t>(got))) {
      outcome.failure = CopyFailure::kWrite;
      break;
    }
    outcome.copied += static_cast<std::uint64_t>(got);
  }
  return outcome;
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

// The mapping in key_decoding.cpp names the Win32 values itself, so that
// it builds everywhere; they must be the ones this header gives.
static_assert(win32_key::kEnhancedKey == ENHANCED_KEY && win32_key::kShift == VK_SHIFT &&
              win32_key::kControl == VK_CONTROL && win32_key::kMenu == VK_MENU &&
              win32_key::kPause == VK_PAUSE && win32_key::kCapital == VK_CAPITAL &&
              win32_key::kEscape == VK_ESCAPE && win32_key::kPrior == VK_PRIOR &&
              win32_key::kNext == VK_NEXT && win32_key::kEnd == VK_END &&
              win32_key::kHome == VK_HOME && win32_key::kLeft == VK_LEFT &&
              win32_key::kUp == VK_UP && win32_key::kRight == VK_RIGHT &&
              win32_key::kDown == VK_DOWN && win32_key::kInsert == VK_INSERT &&
              win32_key::kDelete == VK_DELETE && win32_key::kLeftWindows == VK_LWIN &&
              win32_key::kRightWindows == VK_RWIN && win32_key::kApps == VK_APPS &&
              win32_key::kF1 == VK_F1 && win32_key::kF10 == VK_F10 &&
              win32_key::kF11 == VK_F11 && win32_key::kF12 == VK_F12 &&
              win32_key::kF13 == VK_F13 && win32_key::kF24 == VK_F24 &&
              win32_key::kNumLock == VK_NUMLOCK && win32_key::kScroll == VK_SCROLL &&
              win32_key::kLeftShift == VK_LSHIFT && win32_key::kRightShift == VK_RSHIFT &&
              win32_key::kLeftControl == VK_LCONTROL &&
              win32_key::kRightControl == VK_RCONTROL && win32_key::kLeftMenu == VK_LMENU &&
              win32_key::kRightMenu == VK_RMENU && win32_key::kBrowserBack == VK_BROWSER_BACK &&
              win32_key::kLaunchApp2 == VK_LAUNCH_APP2 &&
              win32_key::kProcessKey == VK_PROCESSKEY && win32_key::kPacket == VK_PACKET,
              "the key mapping's Win32 values");

KeyEventFields FieldsOf(const KEY_EVENT_RECORD& key) {
  return {key.bKeyDown != FALSE, key.wVirtualKeyCode,
          static_cast<unsigned char>(key.uChar.AsciiChar), key.dwControlKeyState};
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
    const DecodedKey key = DecodeKeyEvent(FieldsOf(record.Event.KeyEvent));
    if (key.status == KeyStatus::kKey) return key.code;
  }
}

}  // namespace platform
