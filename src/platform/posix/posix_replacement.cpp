// A file's new contents, written under a temporary name in the target's own
// folder and renamed over the target only once they are whole and flushed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/posix_internal.h"

#ifndef TRENZIK_HAVE_RENAMEAT2
#define TRENZIK_HAVE_RENAMEAT2 0
#endif

namespace platform {

using posix::Descriptor;
using posix::FolderDescriptor;

namespace {

// A file that takes an old one's place is private while it is written and
// gets the old mode at the commit; any other is made as a new file is.
constexpr unsigned kPrivateMode = 0600;
constexpr unsigned kNewFileMode = 0666;

// The name of a path within its folder: whole where no folder is open.
const char* NameIn(const Replacement& replacement) {
  return IsOpen(replacement.target.folder.handle)
             ? replacement.target.path + replacement.target.name_offset
             : replacement.target.path;
}

// Hidden, ending in a letter so that it is never a member of a set (those
// end in digits), and of one length whatever the process number: whether it
// fits never depends on how many digits that has.
bool ComposeTemporaryName(const Replacement& replacement, unsigned attempt, char* name,
                          std::size_t capacity) {
  const std::size_t folder_length =
      IsOpen(replacement.target.folder.handle) ? 0 : replacement.target.name_offset;
  char own[32];
  std::snprintf(own, sizeof own, ".%08x-%02u.tmp", static_cast<unsigned>(getpid()), attempt);
  const std::size_t own_length = std::strlen(own);
  if (folder_length + own_length >= capacity) return false;
  std::memcpy(name, replacement.target.path, folder_length);
  std::memcpy(name + folder_length, own, own_length + 1);
  return true;
}

// What the old file was: its mode and owner go to the new one.
void TakeOldFacts(Replacement* replacement) {
  struct stat info;
  replacement->keeps_old_facts =
      replacement->old_kind == PathKind::kRegular &&
      fstatat(FolderDescriptor(replacement->target.folder), NameIn(*replacement), &info,
              AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(info.st_mode);
  if (!replacement->keeps_old_facts) return;
  replacement->old_mode = static_cast<std::uint32_t>(info.st_mode & 07777);
  replacement->old_owner = static_cast<std::int64_t>(info.st_uid);
  replacement->old_group = static_cast<std::int64_t>(info.st_gid);
}

// The owner first: changing it may clear the set-id bits the mode restores.
// Where the process may not give the file away, it stays the process's own
// with the old mode, never wider.
void GiveOldFacts(const Replacement& replacement) {
  if (!replacement.keeps_old_facts) return;
  const int fd = Descriptor(replacement.file);
  struct stat own;
  bool owner_kept = fstat(fd, &own) == 0 &&
                    static_cast<std::int64_t>(own.st_uid) == replacement.old_owner &&
                    static_cast<std::int64_t>(own.st_gid) == replacement.old_group;
  if (!owner_kept) {
    owner_kept = fchown(fd, static_cast<uid_t>(replacement.old_owner),
                        static_cast<gid_t>(replacement.old_group)) == 0;
  }
  // A file that is not the old owner's never keeps a set-id bit.
  const mode_t mode = static_cast<mode_t>(replacement.old_mode);
  fchmod(fd, owner_kept ? mode : mode & 0777);
}

// rename() replaces a link at the target itself, never its target. Where no
// file was there when the run looked, nothing that came since is replaced.
bool MoveIntoPlace(const Replacement& replacement) {
  const int folder_fd = FolderDescriptor(replacement.target.folder);
  if (replacement.old_kind != PathKind::kAbsent) {
    return renameat(folder_fd, replacement.temporary, folder_fd, NameIn(replacement)) == 0;
  }
#if TRENZIK_HAVE_RENAMEAT2
  if (renameat2(folder_fd, replacement.temporary, folder_fd, NameIn(replacement),
                RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A file system without the flag: a second name never replaces a file,
  // and the temporary one then goes.
  if (linkat(folder_fd, replacement.temporary, folder_fd, NameIn(replacement), 0) != 0) {
    return false;
  }
  unlinkat(folder_fd, replacement.temporary, 0);
  return true;
}

// The new name on the medium: the folder flushed, or where it cannot be (a
// folder that may only be searched), its whole file system.
bool FlushNewName(const Replacement& replacement) {
  if (FlushFolder(replacement.target.folder)) return true;
  const int fd = openat(FolderDescriptor(replacement.target.folder), NameIn(replacement),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = FlushFileSystem(FileHandle{fd});
  close(fd);
  return flushed;
}

}  // namespace

ReplacementStart BeginReplacement(const FolderPath& target, PathKind old_kind,
                                  Replacement* replacement) {
  replacement->target = target;
  replacement->old_kind = old_kind;
  replacement->file = kNoFile;
  TakeOldFacts(replacement);
  const int folder_fd = FolderDescriptor(target.folder);
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    if (!ComposeTemporaryName(*replacement, attempt, replacement->temporary,
                              sizeof replacement->temporary)) {
      return ReplacementStart::kTooLong;
    }
    // Created and watched in one step: no signal falls between the two.
    const posix::HeldSignals held = posix::HoldSignals();
    const int fd = posix::CreateExclusivelyAt(
        folder_fd, replacement->temporary,
        replacement->keeps_old_facts ? kPrivateMode : kNewFileMode);
    const int open_error = errno;
    if (fd >= 0) posix::ArmRemoval(folder_fd, replacement->temporary);
    posix::ReleaseSignals(held);
    if (fd >= 0) {
      replacement->file = FileHandle{fd};
      return ReplacementStart::kStarted;
    }
    if (open_error != EEXIST) return ReplacementStart::kFailed;
  }
  return ReplacementStart::kFailed;
}

ReplacementEnd CommitReplacement(Replacement* replacement) {
  GiveOldFacts(*replacement);
  // The bytes, mode and owner on the medium before the name points at them.
  const bool flushed = fsync(Descriptor(replacement->file)) == 0;
  const int flush_error = errno;
  const bool closed = close(Descriptor(replacement->file)) == 0;
  replacement->file = kNoFile;
  if (!flushed || !closed) {
    if (!flushed) errno = flush_error;
    return ReplacementEnd::kNotWritten;
  }
  if (!MoveIntoPlace(*replacement)) {
    return errno == EEXIST ? ReplacementEnd::kTargetTaken : ReplacementEnd::kNotMoved;
  }
  posix::DisarmRemoval();
  if (!FlushNewName(*replacement)) return ReplacementEnd::kFolderNotFlushed;
  return ReplacementEnd::kCommitted;
}

void DiscardReplacement(Replacement* replacement) {
  const int saved = errno;  // the caller may still ask why the run failed
  if (IsOpen(replacement->file)) close(Descriptor(replacement->file));
  replacement->file = kNoFile;
  unlinkat(FolderDescriptor(replacement->target.folder), replacement->temporary, 0);
  posix::DisarmRemoval();
  errno = saved;
}

}  // namespace platform
