// The temporary file that becomes the output, and its move over the target
// once it is whole; until then a console event removes it.
#include "platform/win32/win32_internal.h"

namespace platform {

using win32::AlreadyExists;
using win32::FromHandle;
using win32::ToHandle;

namespace {

// Attributes a new file takes over from the one it replaces; read-only is
// never among them (such a file is not replaced), nor what the system sets.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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
  static_assert(sizeof replacement->temporary >= win32::kArmedPathCapacity, "a name fits");
  bool too_long = false;
  const HANDLE handle =
      win32::CreateBeside(target.path, target.name_offset, replacement->temporary, &too_long);
  if (handle == INVALID_HANDLE_VALUE) {
    return too_long ? ReplacementStart::kTooLong : ReplacementStart::kFailed;
  }
  win32::ArmRemoval(replacement->temporary);
  replacement->file = FromHandle(handle);
  return ReplacementStart::kStarted;
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
  win32::DisarmRemoval();
  return ReplacementEnd::kCommitted;
}

void DiscardReplacement(Replacement* replacement) {
  const DWORD saved = GetLastError();  // the caller may still ask why the run failed
  if (IsOpen(replacement->file)) CloseHandle(ToHandle(replacement->file));
  replacement->file = kNoFile;
  DeleteFileA(replacement->temporary);
  win32::DisarmRemoval();
  SetLastError(saved);
}

}  // namespace platform
