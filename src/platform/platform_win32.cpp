// The Win32 side of the platform layer. Paths are narrow strings in the
// ANSI code page, so only the "A" functions are used.
#include "platform/platform.h"

#include "common/path_names.h"
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
#include <vector>

namespace platform {

const char kPathSeparator = '\\';
const char kNameSeparators[] = "\\/:";
const bool kRefusesDeviceNames = true;

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

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

namespace {

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

}  // namespace

FileHandle OpenToCopy(const char* path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened. Opening a
  // pipe or a device never waits.
  const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : FromHandle(handle);
}

// The Win32 API opens files by path only: the whole path is used.
Folder OpenFolder(const char* /*directory_part*/) { return kNoFolder; }
void CloseFolder(Folder /*folder*/) {}
FileHandle OpenToCopy(const FolderPath& file) { return OpenToCopy(file.path); }
FileHandle OpenForReading(const FolderPath& file, FileFacts* facts) {
  return OpenForReading(file.path, facts);
}

FileHandle OpenForReading(const char* path) {
  FileFacts ignored;
  return OpenForReading(path, &ignored);
}

FileHandle OpenForReading(const char* path, FileFacts* facts) {
  const FileHandle file = OpenToCopy(path);
  if (!IsOpen(file)) return kNoFile;
  const HANDLE handle = ToHandle(file);
  *facts = FileFacts{FileKind::kOther, 0, {0, 0}};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
    *facts = FileFacts{FileKind::kRegular, SizeOf(info), IdentityOf(info)};
  }
  return file;
}

PathKind LookAtPath(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kAbsent;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  // Device names (NUL, CON, COM1) have attributes too: ask the handle.
  const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::kRegular;
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  return disk ? PathKind::kRegular : PathKind::kOther;
}

bool MayBeWritten(const char* path) {
  // A read-only file refuses GENERIC_WRITE, as it refuses MoveFileExA over it.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE handle = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

namespace {

// CREATE_NEW never opens an existing name, a link included. FILE_SHARE_DELETE
// lets the console control handler remove a temporary file still open, and a
// new segment be renamed over its name while it is open.
HANDLE CreateExclusively(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool AlreadyExists(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// The temporary file that the console control handler removes, and whether
// there is one. Read by the handler, which runs on a thread of its own.
char g_temporary_path[512];
volatile LONG g_temporary_armed = 0;

void Arm(const char* path) {
  lstrcpynA(g_temporary_path, path, sizeof g_temporary_path);
  InterlockedExchange(&g_temporary_armed, 1);
}

void Disarm() { InterlockedExchange(&g_temporary_armed, 0); }

// Where the last component of `path` begins: after the last backslash,
// slash or drive colon that is no second half of a double-byte character.
std::size_t NameOffset(const char* path) {
  const LeadByteTest lead = PathLeadBytes();
  std::size_t offset = 0;
  for (const char separator : {'\\', '/', ':'}) {
    const std::size_t after = BaseNameOffset(path, separator, lead);
    if (after > offset) offset = after;
  }
  return offset;
}

// Puts a new, empty file at `path` without writing to or removing what is
// there: the file is made under a short name of its own in the same folder
// and renamed over `path` at once. A rename replaces a link itself, never
// its target, where a delete or an open would follow a link that Wine does
// not show as one. A folder, or a link to one, refuses the rename and stays.
OverwriteOpen ReplaceName(const char* path, OverwriteTarget* target) {
  const std::size_t folder_length = NameOffset(path);
  char beside[sizeof g_temporary_path];
  HANDLE handle = INVALID_HANDLE_VALUE;
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
    const int length = std::snprintf(beside, sizeof beside, "%.*s~%lx-%d.tmp",
                                     static_cast<int>(folder_length), path,
                                     static_cast<unsigned long>(GetCurrentProcessId()), attempt);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof beside) {
      return OverwriteOpen::kFailed;
    }
    handle = CreateExclusively(beside);
    if (handle == INVALID_HANDLE_VALUE && !AlreadyExists(GetLastError())) {
      return OverwriteOpen::kFailed;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) return OverwriteOpen::kFailed;
  // An interruption between the two steps leaves no stray file.
  Arm(beside);
  if (!MoveFileExA(beside, path, MOVEFILE_REPLACE_EXISTING)) {
    CloseHandle(handle);
    DeleteFileA(beside);
    Disarm();
    return OverwriteOpen::kFailed;
  }
  Disarm();
  *target = {FromHandle(handle), 0};
  return OverwriteOpen::kOpened;
}

}  // namespace

OverwriteOpen OpenForOverwrite(const char* path, const FileIdentity& guarded,
                               OverwriteTarget* target) {
  // Attribute access only: it never waits (a pipe, a device) and writes
  // nothing. Wine follows a link to a file here whatever the flag says, so
  // a name of the input behind a link is refused too.
  const HANDLE existing =
      CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                  nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return OverwriteOpen::kFailed;
    const HANDLE created = CreateExclusively(path);
    if (created != INVALID_HANDLE_VALUE) {
      *target = {FromHandle(created), 0};
      return OverwriteOpen::kOpened;
    }
    // Not found, yet taken: a link whose target is missing.
    return AlreadyExists(GetLastError()) ? ReplaceName(path, target) : OverwriteOpen::kFailed;
  }
  const bool disk = GetFileType(existing) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = disk && GetFileInformationByHandle(existing, &info);
  CloseHandle(existing);
  if (!disk) return OverwriteOpen::kNotRegular;
  if (!known) return OverwriteOpen::kFailed;
  if (SameIdentity(IdentityOf(info), guarded)) return OverwriteOpen::kIsGuarded;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return OverwriteOpen::kFailed;
  // Never written in place: under Wine a link to a file looks like a plain
  // file with one name, so no file found here is known to be safe to write.
  return ReplaceName(path, target);
}

bool TruncateFile(FileHandle file, std::uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(ToHandle(file), position, nullptr, FILE_BEGIN) &&
         SetEndOfFile(ToHandle(file));
}

// ---------------------------------------------------------------------------
// The temporary file and the console events that must not leave it behind.

namespace {

// Attributes a new file takes over from the one it replaces; read-only is
// never among them (such a file is not replaced), nor what the system sets.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Hidden beside the target, ending in a letter so that it is never a member
// of a set, and of one length whatever the process number.
bool ComposeTemporaryPath(const Replacement& replacement, unsigned attempt, char* path,
                          std::size_t capacity) {
  const int length = std::snprintf(path, capacity, "%.*s.%08lx-%02u.tmp",
                                   static_cast<int>(replacement.target.name_offset),
                                   replacement.target.path,
                                   static_cast<unsigned long>(GetCurrentProcessId()), attempt);
  return length > 0 && static_cast<std::size_t>(length) < capacity &&
         static_cast<std::size_t>(length) < sizeof g_temporary_path;
}

}  // namespace

ReplacementStart BeginReplacement(const FolderPath& target, PathKind old_kind,
                                  Replacement* replacement) {
  replacement->target = target;
  replacement->old_kind = old_kind;
  replacement->file = kNoFile;
  const DWORD attributes = old_kind == PathKind::kRegular ? GetFileAttributesA(target.path)
                                                          : INVALID_FILE_ATTRIBUTES;
  replacement->keeps_old_facts = attributes != INVALID_FILE_ATTRIBUTES;
  replacement->old_mode = replacement->keeps_old_facts ? attributes & kKeptAttributes : 0;
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    if (!ComposeTemporaryPath(*replacement, attempt, replacement->temporary,
                              sizeof replacement->temporary)) {
      return ReplacementStart::kTooLong;
    }
    const HANDLE handle = CreateExclusively(replacement->temporary);
    if (handle != INVALID_HANDLE_VALUE) {
      Arm(replacement->temporary);
      replacement->file = FromHandle(handle);
      return ReplacementStart::kStarted;
    }
    if (!AlreadyExists(GetLastError())) return ReplacementStart::kFailed;
  }
  return ReplacementStart::kFailed;
}

ReplacementEnd CommitReplacement(Replacement* replacement) {
  const HANDLE handle = ToHandle(replacement->file);
  const bool flushed = FlushFileBuffers(handle) != FALSE;
  const DWORD flush_error = GetLastError();
  const bool closed = CloseHandle(handle) != FALSE;
  replacement->file = kNoFile;
  if (!flushed || !closed) {
    if (!flushed) SetLastError(flush_error);
    return ReplacementEnd::kNotWritten;
  }
  if (replacement->keeps_old_facts && replacement->old_mode != 0) {
    SetFileAttributesA(replacement->temporary, replacement->old_mode);
  }
  // A rename replaces a file or a link at the target, a link's target stays;
  // where the name was free, nothing that came since is replaced. Written
  // through: the move is on the disk when the call returns.
  const DWORD replace = replacement->old_kind == PathKind::kAbsent ? 0 : MOVEFILE_REPLACE_EXISTING;
  if (!MoveFileExA(replacement->temporary, replacement->target.path,
                   replace | MOVEFILE_WRITE_THROUGH)) {
    return AlreadyExists(GetLastError()) ? ReplacementEnd::kTargetTaken
                                         : ReplacementEnd::kNotMoved;
  }
  Disarm();
  return ReplacementEnd::kCommitted;
}

void DiscardReplacement(Replacement* replacement) {
  const DWORD saved = GetLastError();  // the caller may still ask why the run failed
  if (IsOpen(replacement->file)) CloseHandle(ToHandle(replacement->file));
  replacement->file = kNoFile;
  DeleteFileA(replacement->temporary);
  Disarm();
  SetLastError(saved);
}

std::size_t OpenFilesAllowed() { return std::size_t{1} << 16; }  // handles, not descriptors

bool LastOpenRanOutOfHandles() { return GetLastError() == ERROR_TOO_MANY_OPEN_FILES; }

bool FlushFile(FileHandle file) { return FlushFileBuffers(ToHandle(file)) != FALSE; }

// Names go to the disk with the moves and creations that make them.
bool FlushFolder(Folder /*folder*/) { return true; }

const bool kFlushesWholeFileSystems = false;

// Flushing a volume needs rights a user lacks; every file is flushed alone.
bool FlushFileSystem(FileHandle /*file_on_it*/) { return false; }

// Windows writes back on its own schedule; FlushFileBuffers does the rest.
void StartWriteBack(FileHandle /*file*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

bool LastFailureWasNoRoom() {
  const DWORD error = GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

namespace {

// How a console program ends when Ctrl+C, Ctrl+Break or the closing of its
// console stops it and it has no handler of its own: Windows' default
// handler gives this status, so an interrupted run looks like any other
// interrupted program to the caller. Wine's default handler ends with 0.
constexpr UINT kInterruptedStatus = 0xC000013AU;  // STATUS_CONTROL_C_EXIT

// Installed for the whole run; during a key wait the wait's own handler
// comes first and takes Ctrl+C as a key. Ends the process at once, from the
// handler's thread: nothing of the run goes on after an interruption.
BOOL WINAPI EndOnControl(DWORD /*event*/) {
  if (InterlockedExchange(&g_temporary_armed, 0) != 0) DeleteFileA(g_temporary_path);
  TerminateProcess(GetCurrentProcess(), kInterruptedStatus);
  return TRUE;
}

}  // namespace

// Win32 has no file-size signal; a console event ends the run on its own
// terms.
void PrepareProcess() { SetConsoleCtrlHandler(EndOnControl, TRUE); }

bool CloseFile(FileHandle file) { return CloseHandle(ToHandle(file)) != FALSE; }

void CloseReadFiles(FileHandle* files, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) CloseHandle(ToHandle(files[k]));
}

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

EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity) {
  EntryLookup lookup{false, false};
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return lookup;

  // The first entry reported is the one: on NTFS the folder's own order.
  // Only "." and "..", which a pattern such as "*" matches, are passed over.
  lookup.found = !IsDotEntry(data.cFileName);
  while (!lookup.found && FindNextFileA(search, &data)) lookup.found = !IsDotEntry(data.cFileName);
  lookup.release_failed = (FindClose(search) == FALSE);

  if (lookup.found && stored_name != nullptr && capacity > 0) {
    const int limit = capacity < MAX_PATH ? static_cast<int>(capacity) : MAX_PATH;
    lstrcpynA(stored_name, data.cFileName, limit);
  }
  return lookup;
}

// Room for the longest message in one piece; each message is flushed at its
// end, so nothing waits in the buffer while a key wait runs.
constexpr std::size_t kOutputBufferSize = 16384;

void PrepareConsoleOutput() {
  // The C runtime opens stdout in text mode, which would write every "\n"
  // as CR LF into a file or pipe. A console starts a new line on a bare LF
  // anyway, so binary mode changes nothing on screen. Unbuffered, the
  // runtime would hand a message over in pieces that can split a
  // double-byte character.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
}

namespace {

// Standard output when it is a console, else INVALID_HANDLE_VALUE (a file,
// a pipe). Asked once: a run never moves its output.
HANDLE ConsoleOutput() {
  static const HANDLE console = [] {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const bool is_console =
        output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode);
    return is_console ? output : INVALID_HANDLE_VALUE;
  }();
  return console;
}

// Shows ANSI code-page bytes on a console as characters. The console's own
// code page (the OEM one) would show other glyphs for the same bytes, so
// the text goes as UTF-16 and the console's code page stays as it is.
// False when nothing could be written.
bool WriteAsCharacters(HANDLE console, const char* text, std::size_t size) {
  const int bytes = static_cast<int>(size);
  const int count = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
  if (count <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(count));
  if (MultiByteToWideChar(CP_ACP, 0, text, bytes, wide.data(), count) != count) return false;
  // Old consoles take at most some 64 KiB per call; write in slices.
  constexpr DWORD kSlice = 8192;
  DWORD done = 0;
  while (done < static_cast<DWORD>(count)) {
    const DWORD left = static_cast<DWORD>(count) - done;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, left < kSlice ? left : kSlice, &written,
                       nullptr) ||
        written == 0) {
      return done > 0;  // what is on the screen stays; never write it twice
    }
    done += written;
  }
  return true;
}

}  // namespace

void WriteConsoleText(const char* text, std::size_t size) {
  if (size == 0) return;
  const HANDLE console = ConsoleOutput();
  if (console != INVALID_HANDLE_VALUE && WriteAsCharacters(console, text, size)) return;
  // Redirected: the exact bytes, in one write when they fit the buffer.
  std::fwrite(text, 1, size, stdout);
  std::fflush(stdout);
}

namespace {

bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

}  // namespace

NarrowCodePage PathCodePage() {
  // Paths are in the ANSI code page; it does not change while a run lasts.
  static const NarrowCodePage page = [] {
    NarrowCodePage described{GetACP(), 0, SystemLeadByte};
    CPINFO info;
    if (GetCPInfo(CP_ACP, &info)) described.max_char_size = info.MaxCharSize;
    return described;
  }();
  return page;
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

// The console input that a Ctrl+C is turned into a key for while a wait
// runs. Read by the control handler, which runs on a thread of its own.
HANDLE g_ctrl_c_input = INVALID_HANDLE_VALUE;

// With the console mode at 0 a Windows console delivers Ctrl+C as the key 3
// and raises no event, so this never runs there. Wine raises CTRL_C_EVENT
// all the same and queues no key; the event then becomes that key, and the
// wait reads it like any other.
BOOL WINAPI CtrlCAsKey(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = 'C';
  record.Event.KeyEvent.uChar.AsciiChar = 3;
  record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
  DWORD written = 0;
  WriteConsoleInputA(g_ctrl_c_input, &record, 1, &written);
  return TRUE;  // handled: the program goes on
}

// Installs CtrlCAsKey for the length of one wait only: outside a wait,
// Ctrl+C ends the program as usual.
class CtrlCAsKeyDuringWait {
 public:
  explicit CtrlCAsKeyDuringWait(HANDLE input) {
    g_ctrl_c_input = input;
    installed_ = SetConsoleCtrlHandler(CtrlCAsKey, TRUE) != FALSE;
  }
  ~CtrlCAsKeyDuringWait() {
    if (installed_) SetConsoleCtrlHandler(CtrlCAsKey, FALSE);
  }
  CtrlCAsKeyDuringWait(const CtrlCAsKeyDuringWait&) = delete;
  CtrlCAsKeyDuringWait& operator=(const CtrlCAsKeyDuringWait&) = delete;

 private:
  bool installed_ = false;
};

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
  const CtrlCAsKeyDuringWait ctrl_c(console.handle);

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

namespace platform {

// The console reads the ANSI code page (WriteConsoleText), never UTF-8.
bool ConsoleShowsUtf8() { return false; }

}  // namespace platform
