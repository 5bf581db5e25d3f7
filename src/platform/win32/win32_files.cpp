// Files: opening, identity, reading and writing at offsets, flushing and
// closing.
#include <cstdio>

#include "platform/win32/win32_internal.h"

namespace platform {

using win32::AlreadyExists;
using win32::CreateExclusively;
using win32::FromHandle;
using win32::ToHandle;

const char kPathSeparator = '\\';
const char kNameSeparators[] = "\\/:";
const bool kRefusesDeviceNames = true;

namespace {

// Each ReadFile / WriteFile call moves at most this much, so the DWORD
// counts they take can never overflow, whatever size_t is.
constexpr std::size_t kMaxTransfer = std::size_t{64} << 20;

// An OVERLAPPED on a synchronous handle turns ReadFile / WriteFile into a
// positional transfer with a full 64-bit offset.
OVERLAPPED AtOffset(std::uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

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

namespace win32 {

HANDLE CreateExclusively(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool AlreadyExists(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

HANDLE CreateBeside(const char* path, std::size_t folder_length, char* beside, bool* too_long) {
  *too_long = false;
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    const int length = std::snprintf(beside, kArmedPathCapacity, "%.*s.%08lx-%02u.tmp",
                                     static_cast<int>(folder_length), path,
                                     static_cast<unsigned long>(GetCurrentProcessId()), attempt);
    if (length < 0 || static_cast<std::size_t>(length) >= kArmedPathCapacity) {
      *too_long = true;
      return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = CreateExclusively(beside);
    if (handle != INVALID_HANDLE_VALUE || !AlreadyExists(GetLastError())) return handle;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace win32

namespace {

// Where the last component of `path` begins: after the last backslash,
// slash or drive colon that is no second half of a double-byte character of
// the system's code page.
std::size_t NameOffset(const char* path) {
  std::size_t offset = 0;
  for (std::size_t k = 0; path[k] != '\0'; ++k) {
    const auto byte = static_cast<unsigned char>(path[k]);
    if (IsDBCSLeadByte(byte) && path[k + 1] != '\0') {
      ++k;
    } else if (byte == '\\' || byte == '/' || byte == ':') {
      offset = k + 1;
    }
  }
  return offset;
}

// Puts a new, empty file at `path` without writing to or removing what is
// there: the file is made under a short name of its own in the same folder
// and renamed over `path` at once. A rename replaces a link itself, never
// its target, where a delete or an open would follow a link that Wine does
// not show as one. A folder, or a link to one, refuses the rename and stays.
OverwriteOpen ReplaceName(const char* path, OverwriteTarget* target) {
  char beside[win32::kArmedPathCapacity];
  bool too_long = false;
  const HANDLE handle = win32::CreateBeside(path, NameOffset(path), beside, &too_long);
  if (handle == INVALID_HANDLE_VALUE) return OverwriteOpen::kFailed;
  // An interruption between the two steps leaves no stray file.
  win32::ArmRemoval(beside);
  if (!MoveFileExA(beside, path, MOVEFILE_REPLACE_EXISTING)) {
    CloseHandle(handle);
    DeleteFileA(beside);
    win32::DisarmRemoval();
    return OverwriteOpen::kFailed;
  }
  win32::DisarmRemoval();
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

std::size_t OpenFilesAllowed() { return std::size_t{1} << 16; }  // handles, not descriptors

bool LastOpenRanOutOfHandles() { return GetLastError() == ERROR_TOO_MANY_OPEN_FILES; }

bool FlushFile(FileHandle file) { return FlushFileBuffers(ToHandle(file)) != FALSE; }

// Names go to the disk with the moves and creations that make them.
bool FlushFolder(Folder /*folder*/) { return true; }

const bool kFlushesWholeFileSystems = false;

// Flushing a volume needs rights a user lacks; every file is flushed alone.
bool FlushFileSystem(FileHandle /*file_on_it*/) { return false; }

// Windows writes back on its own schedule; FlushFileBuffers does the rest.
void BeginWriteBehind(WriteBehind& /*behind*/) {}
void StartWriteBack(WriteBehind& /*behind*/, FileHandle /*file*/, std::uint64_t /*offset*/,
                    std::uint64_t /*length*/) {}
void EndWriteBehind(WriteBehind& /*behind*/) {}

bool LastFailureWasNoRoom() {
  const DWORD error = GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace platform
