// Files: opening, identity, reading and writing at offsets, flushing and
// closing.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_internal.h"

#ifndef TRENZIK_HAVE_SYNCFS
#define TRENZIK_HAVE_SYNCFS 0
#endif
#ifndef TRENZIK_HAVE_CLOSE_RANGE
#define TRENZIK_HAVE_CLOSE_RANGE 0
#endif

namespace platform {

using posix::Descriptor;
using posix::FactsOf;
using posix::FromDescriptor;
using posix::CreateExclusivelyAt;
using posix::kMaxRequest;

const char kPathSeparator = '/';
const char kNameSeparators[] = "/";
const bool kRefusesDeviceNames = false;

namespace {

// One call for a run of descriptors; a kernel without close_range (before
// 5.9) refuses it, and they are closed one by one instead.
bool CloseRange(int first, int last) {
#if TRENZIK_HAVE_CLOSE_RANGE
  return close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0;
#else
  static_cast<void>(first);
  static_cast<void>(last);
  return false;
#endif
}

}  // namespace

namespace posix {

int FolderDescriptor(Folder folder) {
  return IsOpen(folder.handle) ? Descriptor(folder.handle) : AT_FDCWD;
}

int CreateExclusivelyAt(int folder_fd, const char* name, unsigned mode) {
  return openat(folder_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                static_cast<mode_t>(mode));
}

FileFacts FactsOf(const struct stat& info) {
  FileFacts facts{FileKind::kOther, 0,
                  {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)}};
  if (S_ISREG(info.st_mode)) {
    facts.kind = FileKind::kRegular;
    facts.size = static_cast<std::uint64_t>(info.st_size);
  } else if (S_ISBLK(info.st_mode)) {
    facts.kind = FileKind::kBlockDevice;
  }
  return facts;
}

}  // namespace posix

namespace {

// A block device's st_size is 0; its capacity is where a seek to the end lands.
bool MeasureBlockDevice(int fd, std::uint64_t* size) {
  off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) return false;
  *size = static_cast<std::uint64_t>(end);
  return true;
}

}  // namespace

FileHandle OpenToCopy(const FolderPath& file) {
  // O_NONBLOCK: a FIFO without a writer would hold open() for ever.
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (!IsOpen(file.folder.handle)) return FromDescriptor(open(file.path, flags));
  return FromDescriptor(
      openat(Descriptor(file.folder.handle), file.path + file.name_offset, flags));
}

FileHandle OpenToCopy(const char* path) { return OpenToCopy(FolderPath{kNoFolder, path, 0}); }

Folder OpenFolder(const char* directory_part) {
  const char* path = *directory_part != '\0' ? directory_part : ".";
  // Opened for reading, so that it can be flushed; a folder that may only
  // be searched still serves for opening files by name.
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#if defined(O_PATH)
  if (fd < 0) fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  return Folder{FromDescriptor(fd)};
}

void CloseFolder(Folder folder) {
  if (IsOpen(folder.handle)) close(Descriptor(folder.handle));
}

FileHandle OpenForReading(const char* path) {
  FileFacts ignored;
  return OpenForReading(path, &ignored);
}

FileHandle OpenForReading(const char* path, FileFacts* facts) {
  return OpenForReading(FolderPath{kNoFolder, path, 0}, facts);
}

FileHandle OpenForReading(const FolderPath& file, FileFacts* facts) {
  const int fd = Descriptor(OpenToCopy(file));
  if (fd < 0) return kNoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    // Windows never opens a folder as a file; neither do we.
    close(fd);
    errno = EISDIR;
    return kNoFile;
  }
  *facts = FactsOf(info);
  // On a regular file O_NONBLOCK changes nothing (open(2)); elsewhere reads
  // must wait as usual.
  if (facts->kind != FileKind::kRegular &&
      (fcntl(fd, F_SETFL, 0) != 0 ||
       (facts->kind == FileKind::kBlockDevice && !MeasureBlockDevice(fd, &facts->size)))) {
    close(fd);
    return kNoFile;
  }
  return FileHandle{fd};
}

PathKind LookAtPath(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0) return PathKind::kAbsent;
  if (S_ISLNK(info.st_mode)) return PathKind::kLink;
  if (S_ISREG(info.st_mode)) return PathKind::kRegular;
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

bool MayBeWritten(const char* path) {
  int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

namespace {

int CreateExclusively(const char* path) { return CreateExclusivelyAt(AT_FDCWD, path, 0666); }

// Removes the name and puts a new, empty file in its place.
OverwriteOpen ReplaceName(const char* path, OverwriteTarget* target) {
  if (unlink(path) != 0) return OverwriteOpen::kFailed;
  int fd = CreateExclusively(path);
  if (fd < 0) return OverwriteOpen::kFailed;
  *target = {FileHandle{fd}, 0};
  return OverwriteOpen::kOpened;
}

}  // namespace

OverwriteOpen OpenForOverwrite(const char* path, const FileIdentity& guarded,
                               OverwriteTarget* target) {
  // A new name first, the usual case: one call. O_EXCL never follows a link.
  int fd = CreateExclusively(path);
  if (fd >= 0) {
    *target = {FileHandle{fd}, 0};
    return OverwriteOpen::kOpened;
  }
  if (errno != EEXIST) return OverwriteOpen::kFailed;
  // No O_TRUNC: the file is written over in place and cut only when it was
  // longer, which spares the file system a discard per file. O_NOFOLLOW: a
  // link is never written through. O_NONBLOCK: a FIFO never holds the open.
  fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) return ReplaceName(path, target);
    // A FIFO without a reader (ENXIO), a device that will not open, a folder.
    return LookAtPath(path) == PathKind::kOther ? OverwriteOpen::kNotRegular
                                                : OverwriteOpen::kFailed;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return OverwriteOpen::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return OverwriteOpen::kNotRegular;
  }
  if (SameIdentity(FactsOf(info).identity, guarded)) {
    close(fd);
    return OverwriteOpen::kIsGuarded;
  }
  if (info.st_nlink > 1) {
    // Another name shares these bytes, maybe outside the folder: leave them.
    close(fd);
    return ReplaceName(path, target);
  }
  // O_NONBLOCK stays: it changes nothing on a regular file.
  *target = {FileHandle{fd}, static_cast<std::uint64_t>(info.st_size)};
  return OverwriteOpen::kOpened;
}

bool TruncateFile(FileHandle file, std::uint64_t size) {
  for (;;) {
    if (ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool LastFailureWasNoRoom() {
#if defined(EDQUOT)
  if (errno == EDQUOT) return true;
#endif
  return errno == ENOSPC;
}

bool CloseFile(FileHandle file) { return close(Descriptor(file)) == 0; }

void CloseReadFiles(FileHandle* files, std::size_t count) {
  std::sort(files, files + count,
            [](FileHandle a, FileHandle b) { return Descriptor(a) < Descriptor(b); });
  std::size_t first = 0;
  while (first < count) {
    std::size_t last = first;
    while (last + 1 < count && Descriptor(files[last + 1]) == Descriptor(files[last]) + 1) ++last;
    bool closed = false;
    closed = last > first && CloseRange(Descriptor(files[first]), Descriptor(files[last]));
    for (std::size_t k = first; !closed && k <= last; ++k) close(Descriptor(files[k]));
    first = last + 1;
  }
}

std::int64_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size) {
  if (size > kMaxRequest) size = kMaxRequest;
  for (;;) {
    ssize_t got = pread(Descriptor(file), buffer, size, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool WriteAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    std::size_t request = size < kMaxRequest ? size : kMaxRequest;
    ssize_t put = pwrite(Descriptor(file), bytes, request, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    offset += static_cast<std::uint64_t>(put);
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool SameFile(const char* path_a, const char* path_b) {
  struct stat a, b;
  return stat(path_a, &a) == 0 && stat(path_b, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool LastOpenRanOutOfHandles() { return errno == EMFILE || errno == ENFILE; }

std::size_t OpenFilesAllowed() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return std::size_t{1} << 20;
  }
  return static_cast<std::size_t>(limit.rlim_cur);
}

const bool kFlushesWholeFileSystems = TRENZIK_HAVE_SYNCFS != 0;

bool FlushFile(FileHandle file) {
  for (;;) {
    if (fdatasync(Descriptor(file)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool FlushFolder(Folder folder) {
  if (!IsOpen(folder.handle)) return false;
  for (;;) {
    if (fsync(Descriptor(folder.handle)) == 0) return true;
    // Some file systems flush no folders at all: their names are as safe
    // as the system makes them.
    if (errno == EINVAL) return true;
    if (errno != EINTR) return false;
  }
}

bool FlushFileSystem(FileHandle file_on_it) {
#if TRENZIK_HAVE_SYNCFS
  // Since Linux 5.8 it also reports a write-back error of any file on it.
  return syncfs(Descriptor(file_on_it)) == 0;
#else
  static_cast<void>(file_on_it);
  return false;
#endif
}

}  // namespace platform
