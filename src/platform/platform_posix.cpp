// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include "platform/key_decoding.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

const char kPathSeparator = '/';
const char kNameSeparators[] = "/";
const bool kRefusesDeviceNames = false;

namespace {

int Descriptor(FileHandle file) { return static_cast<int>(file.value); }

FileHandle FromDescriptor(int fd) { return fd < 0 ? kNoFile : FileHandle{fd}; }

// Largest single request handed to the kernel; keeps counts far from any
// platform limit on one call.
constexpr std::size_t kMaxRequest = std::size_t{1} << 30;

}  // namespace

namespace {

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
#if defined(O_PATH)
  const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // search permission is enough
#else
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  return Folder{FromDescriptor(open(*directory_part != '\0' ? directory_part : ".", flags))};
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

FileHandle CreateForWriting(const char* path) {
  // open() refuses a folder for writing with EISDIR by itself.
  return FromDescriptor(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

namespace {

int CreateExclusively(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
}

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

// ---------------------------------------------------------------------------
// The temporary file and the signals that must not leave it behind.

namespace {

constexpr int kRemovalSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSignalCount = sizeof kRemovalSignals / sizeof kRemovalSignals[0];

// Read by the signal handler, so plain static storage: the path and whether
// it is to be removed.
char g_temporary_path[512];
volatile sig_atomic_t g_temporary_armed = 0;
struct sigaction g_previous_actions[kSignalCount];
bool g_handlers_installed[kSignalCount];

void RemoveTemporaryAndDie(int signal_number) {
  if (g_temporary_armed) unlink(g_temporary_path);
  g_temporary_armed = 0;
  // Die of the same signal, as if nothing had been caught.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void BlockRemovalSignals(bool block, sigset_t* previous) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kRemovalSignals) sigaddset(&set, signal_number);
  sigprocmask(block ? SIG_BLOCK : SIG_SETMASK, block ? &set : previous, block ? previous : nullptr);
}

void InstallRemovalHandlers() {
  struct sigaction action {};
  action.sa_handler = RemoveTemporaryAndDie;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kRemovalSignals) sigaddset(&action.sa_mask, signal_number);
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction previous {};
    sigaction(kRemovalSignals[i], nullptr, &previous);
    // A signal the process was started with ignored (a background job's
    // SIGINT) stays ignored.
    g_handlers_installed[i] = previous.sa_handler != SIG_IGN;
    if (g_handlers_installed[i]) sigaction(kRemovalSignals[i], &action, &g_previous_actions[i]);
  }
}

void RestoreSignalHandlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (g_handlers_installed[i]) sigaction(kRemovalSignals[i], &g_previous_actions[i], nullptr);
    g_handlers_installed[i] = false;
  }
}

// Ends the temporary file's watch; signals are blocked meanwhile so that a
// handler never sees half a change.
void Disarm() {
  sigset_t previous;
  BlockRemovalSignals(true, &previous);
  g_temporary_armed = 0;
  RestoreSignalHandlers();
  BlockRemovalSignals(false, &previous);
}

}  // namespace

TemporaryCreate CreateTemporaryFile(const char* path, FileHandle* file) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof g_temporary_path) return TemporaryCreate::kFailed;
  // Created and watched in one step: no signal can fall between the two.
  sigset_t previous;
  BlockRemovalSignals(true, &previous);
  int fd = CreateExclusively(path);
  const int open_error = errno;
  if (fd >= 0) {
    std::memcpy(g_temporary_path, path, length + 1);
    g_temporary_armed = 1;
    InstallRemovalHandlers();
  }
  BlockRemovalSignals(false, &previous);
  if (fd < 0) return open_error == EEXIST ? TemporaryCreate::kExists : TemporaryCreate::kFailed;
  *file = FileHandle{fd};
  return TemporaryCreate::kCreated;
}

bool CommitTemporaryFile(const char* target) {
  // rename() replaces a link at `target` itself, never its target.
  if (!g_temporary_armed || rename(g_temporary_path, target) != 0) return false;
  Disarm();
  return true;
}

void DiscardTemporaryFile() {
  if (!g_temporary_armed) return;
  const int saved = errno;  // the caller may still ask why the run failed
  unlink(g_temporary_path);
  Disarm();
  errno = saved;
}

bool LastFailureWasNoRoom() {
#if defined(EDQUOT)
  if (errno == EDQUOT) return true;
#endif
  return errno == ENOSPC;
}

std::uint32_t ProcessNumber() { return static_cast<std::uint32_t>(getpid()); }

void PrepareProcess() {
  // Beyond a file-size limit a write then fails with EFBIG, which the runs
  // report as a write error, instead of the process being killed unheard.
  signal(SIGXFSZ, SIG_IGN);
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
#if defined(__linux__)
    // One call for the run; a kernel without close_range (before 5.9)
    // refuses it, and the descriptors are closed one by one instead.
    closed = last > first && close_range(static_cast<unsigned>(Descriptor(files[first])),
                                         static_cast<unsigned>(Descriptor(files[last])), 0) == 0;
#endif
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

bool RegularFileSize(FileHandle file, std::uint64_t* size) {
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool SameFile(const char* path_a, const char* path_b) {
  struct stat a, b;
  return stat(path_a, &a) == 0 && stat(path_b, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

CopyPipe OpenCopyPipe(std::size_t capacity) {
  CopyPipe pipe;
#if defined(__linux__)
  int ends[2];
  // Non-blocking: a copy never waits on its own pipe, whatever is left in it.
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return pipe;
  pipe.read_end = FileHandle{ends[0]};
  pipe.write_end = FileHandle{ends[1]};
  // A small pipe moves a few pages per pair of calls; when the system
  // allows no more (pipe-max-size, a user's pipe quota), it still works.
  int size = fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(capacity));
  if (size < 0) size = fcntl(ends[1], F_GETPIPE_SZ);
  pipe.capacity = size > 0 ? static_cast<std::size_t>(size) : 0;
  if (pipe.capacity == 0) {
    CloseCopyPipe(pipe);
    return CopyPipe{};
  }
#else
  (void)capacity;
#endif
  return pipe;
}

void CloseCopyPipe(CopyPipe pipe) {
  if (IsOpen(pipe.read_end)) close(Descriptor(pipe.read_end));
  if (IsOpen(pipe.write_end)) close(Descriptor(pipe.write_end));
}

namespace {

#if defined(__linux__)

// An error that means "not here" rather than "it went wrong": the plain
// reads and writes then do the work.
KernelStop StopFor(int error) {
  switch (error) {
    case EXDEV:
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
    case ESPIPE:
    case EBADF:
      return KernelStop::kRefused;
    default:
      return KernelStop::kFailed;
  }
}

std::size_t Request(std::uint64_t left, std::size_t limit) {
  return static_cast<std::size_t>(left < limit ? left : limit);
}

// File to file in one call per gigabyte.
KernelCopyResult FileToFile(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                            std::uint64_t count) {
  KernelCopyResult result{0, KernelStop::kFinished};
  while (result.copied < count) {
    loff_t in_offset = static_cast<loff_t>(from_offset + result.copied);
    loff_t out_offset = static_cast<loff_t>(to_offset + result.copied);
    const std::size_t asked = Request(count - result.copied, kMaxRequest);
    ssize_t moved = copy_file_range(from, &in_offset, to, &out_offset,
                                    asked, 0);
    if (moved > 0) {
      result.copied += static_cast<std::uint64_t>(moved);
      // Short means the end on a regular file; the caller confirms it where
      // it must, and needs no call here that finds nothing.
      if (static_cast<std::size_t>(moved) < asked) {
        result.stop = KernelStop::kEnded;
        break;
      }
    } else if (moved == 0) {
      result.stop = KernelStop::kEnded;
      break;
    } else if (errno != EINTR) {
      result.stop = StopFor(errno);
      break;
    }
  }
  return result;
}

// Empties the pipe after a failed write left bytes in it, so that the next
// copy starts from an empty pipe.
bool DrainPipe(int pipe_read, const CopyBuffer& buffer) {
  for (;;) {
    ssize_t got = read(pipe_read, buffer.bytes, buffer.size);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && errno == EAGAIN;
  }
}

// Pages of the input into the pipe by reference, then from the pipe into
// the target: one copy of the bytes, as with copy_file_range, but without
// its extra cost when the two offsets do not line up on a page.
KernelCopyResult ThroughPipe(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                             std::uint64_t count, const CopyBuffer& buffer) {
  KernelCopyResult result{0, KernelStop::kFinished};
  const int pipe_read = Descriptor(buffer.pipe.read_end);
  const int pipe_write = Descriptor(buffer.pipe.write_end);
  if (buffer.pipe.capacity == 0) return {0, KernelStop::kRefused};
  while (result.copied < count) {
    loff_t in_offset = static_cast<loff_t>(from_offset + result.copied);
    ssize_t filled = splice(from, &in_offset, pipe_write, nullptr,
                            Request(count - result.copied, buffer.pipe.capacity), SPLICE_F_MOVE);
    if (filled < 0 && errno == EINTR) continue;
    if (filled <= 0) {
      result.stop = filled == 0 ? KernelStop::kEnded : StopFor(errno);
      break;
    }
    auto held = static_cast<std::size_t>(filled);
    while (held > 0) {
      loff_t out_offset = static_cast<loff_t>(to_offset + result.copied);
      ssize_t put = splice(pipe_read, nullptr, to, &out_offset, held, SPLICE_F_MOVE);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        result.stop = put == 0 ? KernelStop::kFailed : StopFor(errno);
        if (!DrainPipe(pipe_read, buffer)) result.stop = KernelStop::kFailed;
        return result;
      }
      held -= static_cast<std::size_t>(put);
      result.copied += static_cast<std::uint64_t>(put);
    }
  }
  return result;
}

// Chosen by measurement on ext4 and tmpfs (README, Performance):
// copy_file_range where both offsets lie alike within a page (the kernel
// copies whole pages, or shares them where the file system can) and for
// copies of a few pages, where its single call beats the pipe's two; the
// pipe for large copies at offsets a header apart, where copy_file_range
// pays for partial pages.
constexpr std::uint64_t kSmallCopy = std::uint64_t{64} << 10;

KernelRoute ChooseRoute(std::uint64_t from_offset, std::uint64_t to_offset, std::uint64_t count) {
  static const long page = sysconf(_SC_PAGESIZE);  // asked once: it never changes
  const auto page_size = static_cast<std::uint64_t>(page > 0 ? page : 4096);
  if (count <= kSmallCopy || from_offset % page_size == to_offset % page_size) {
    return KernelRoute::kFileToFile;
  }
  return KernelRoute::kPipe;
}

#endif

}  // namespace

KernelCopyResult KernelCopy(FileHandle from, std::uint64_t from_offset, FileHandle to,
                            std::uint64_t to_offset, std::uint64_t count, const CopyBuffer& buffer,
                            KernelRoute route) {
#if defined(__linux__)
  if (count == 0) return {0, KernelStop::kFinished};
  const bool chosen = route == KernelRoute::kChosen;
  if (chosen) route = ChooseRoute(from_offset, to_offset, count);
  if (route == KernelRoute::kPipe) {
    return ThroughPipe(Descriptor(from), from_offset, Descriptor(to), to_offset, count, buffer);
  }
  KernelCopyResult result =
      FileToFile(Descriptor(from), from_offset, Descriptor(to), to_offset, count);
  if (!chosen || result.stop != KernelStop::kRefused) return result;
  // copy_file_range refuses two file systems (EXDEV); splice does not mind.
  KernelCopyResult rest = ThroughPipe(Descriptor(from), from_offset + result.copied,
                                      Descriptor(to), to_offset + result.copied,
                                      count - result.copied, buffer);
  return {result.copied + rest.copied, rest.stop};
#else
  static_cast<void>(from);
  static_cast<void>(from_offset);
  static_cast<void>(to);
  static_cast<void>(to_offset);
  static_cast<void>(buffer);
  static_cast<void>(route);
  return {0, count == 0 ? KernelStop::kFinished : KernelStop::kRefused};
#endif
}

namespace {

// Matches a name against a pattern with '*' (any run of bytes) and '?' (any
// one byte); every other byte, '[' and '\\' included, stands for itself.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool HasWildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool ByteOrderLess(const std::string& a, const std::string& b) {
  return std::strcmp(a.c_str(), b.c_str()) < 0;  // strcmp compares unsigned bytes
}

}  // namespace

EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity) {
  const char* last_separator = std::strrchr(path, '/');
  const char* pattern = last_separator != nullptr ? last_separator + 1 : path;
  if (*pattern == '\0' || capacity == 0) return {false, false};
  std::string folder = last_separator != nullptr
                           ? std::string(path, static_cast<std::size_t>(last_separator - path + 1))
                           : std::string("./");

  // A POSIX name may hold '*' and '?' itself: an entry named exactly by the
  // typed component wins, and only a component that names none is a pattern.
  struct stat target;
  const bool exact = lstat(path, &target) == 0;
  const bool wildcard = !exact && HasWildcard(pattern);
  if (!exact && !wildcard) return {false, false};

  // Without a wildcard the entry exists; the scan only looks for the spelling
  // the folder holds (another letter case on a case-insensitive file system).
  std::string best = wildcard ? std::string() : std::string(pattern);
  bool best_found = false;
  bool release_failed = false;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (IsDotEntry(name)) continue;
      bool matches;
      if (wildcard) {
        matches = WildcardMatch(pattern, name);
      } else if (std::strcmp(name, pattern) == 0) {
        best = name;
        best_found = true;
        break;  // the typed spelling is the folder's own
      } else if (entry->d_ino == target.st_ino) {
        struct stat candidate;
        std::string candidate_path = folder + name;
        matches = lstat(candidate_path.c_str(), &candidate) == 0 &&
                  candidate.st_dev == target.st_dev && candidate.st_ino == target.st_ino;
      } else {
        matches = false;
      }
      if (matches && (!best_found || ByteOrderLess(name, best))) {
        best = name;
        best_found = true;
      }
    }
    release_failed = closedir(dir) != 0;
  }
  if (wildcard && !best_found) return {false, release_failed};
  std::size_t length = best.size() < capacity - 1 ? best.size() : capacity - 1;
  std::memcpy(stored_name, best.data(), length);
  stored_name[length] = '\0';
  return {true, release_failed};
}

// ---------------------------------------------------------------------------
// One-key console input from the controlling terminal.

namespace {

// How long a lone Escape waits for the rest of a sequence.
constexpr int kSequencePauseMs = 75;

// The terminal, its mode before the wait and the wait's own mode. Static
// because the signal handlers of a wait must reach them, and a handler sees
// nothing else.
struct TerminalState {
  int fd = -1;
  bool tried = false;
  bool unusable = false;
  struct termios saved {};
  struct termios raw {};
};
TerminalState g_terminal;
// Set while a wait runs, from before its mode is switched on until after the
// saved mode is back; and while the wait's mode may be in force.
volatile sig_atomic_t g_wait_running = 0;
volatile sig_atomic_t g_raw_mode_set = 0;

// The handlers below run while a wait is going on and use only
// async-signal-safe calls (tcsetattr, tcgetpgrp, getpgrp, sigaction,
// sigprocmask, raise); those that return leave errno as they found it.

void PutSavedModeBack() {
  if (g_raw_mode_set) {
    tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.saved);
    g_raw_mode_set = 0;
  }
}

// Only from the foreground: a background process that changed the mode
// would be stopped again at once (SIGTTOU). It reads the terminal only once
// it is brought back, and then this runs again.
void PutWaitModeBack() {
  if (!g_wait_running || tcgetpgrp(g_terminal.fd) != getpgrp()) return;
  g_raw_mode_set = 1;
  tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.raw);
}

void RestoreModeAndDie(int signal_number);
void RestoreModeAndStop(int signal_number);
void ResumeWaitMode(int signal_number);

struct CaughtSignal {
  int number;
  void (*handler)(int);
};
// Every catchable signal whose default action ends the process, and the
// two of job control.
constexpr CaughtSignal kCaughtSignals[] = {
    {SIGINT, RestoreModeAndDie},   {SIGQUIT, RestoreModeAndDie},   {SIGTERM, RestoreModeAndDie},
    {SIGHUP, RestoreModeAndDie},   {SIGPIPE, RestoreModeAndDie},   {SIGALRM, RestoreModeAndDie},
    {SIGUSR1, RestoreModeAndDie},  {SIGUSR2, RestoreModeAndDie},   {SIGXCPU, RestoreModeAndDie},
    {SIGVTALRM, RestoreModeAndDie}, {SIGPROF, RestoreModeAndDie},  {SIGTSTP, RestoreModeAndStop},
    {SIGCONT, ResumeWaitMode},
};
constexpr std::size_t kCaughtCount = sizeof kCaughtSignals / sizeof kCaughtSignals[0];

// A handler runs with all the others held back, so that no two of them
// change the mode at once.
void SetDisposition(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (const CaughtSignal& caught : kCaughtSignals) sigaddset(&action.sa_mask, caught.number);
  sigaction(signal_number, &action, nullptr);
}

void Unblock(int signal_number) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// The mode back, then the same death the signal would have given without a
// handler (exit status, core dump).
void RestoreModeAndDie(int signal_number) {
  PutSavedModeBack();
  SetDisposition(signal_number, SIG_DFL);
  raise(signal_number);
  Unblock(signal_number);  // the pending signal ends the process here
}

// The shell gets its mode back while the program is stopped; once continued,
// the wait goes on in its own mode, so one key without Enter still answers.
void RestoreModeAndStop(int signal_number) {
  const int saved_errno = errno;
  PutSavedModeBack();
  SetDisposition(signal_number, SIG_DFL);
  raise(signal_number);
  Unblock(signal_number);  // stopped here until SIGCONT (in an orphaned group, not at all)
  SetDisposition(signal_number, RestoreModeAndStop);
  PutWaitModeBack();
  errno = saved_errno;
}

// Also after SIGSTOP or SIGTTIN, and after a shell's fg that put back a mode
// of its own.
void ResumeWaitMode(int) {
  const int saved_errno = errno;
  PutWaitModeBack();
  errno = saved_errno;
}

struct SignalGuard {
  struct sigaction old[kCaughtCount];
  bool installed[kCaughtCount];
};

SignalGuard CatchTerminatingSignals() {
  SignalGuard guard{};
  for (std::size_t i = 0; i < kCaughtCount; ++i) {
    const int number = kCaughtSignals[i].number;
    // A signal the program was started to ignore (nohup) stays ignored.
    if (sigaction(number, nullptr, &guard.old[i]) != 0 || guard.old[i].sa_handler == SIG_IGN) {
      continue;
    }
    SetDisposition(number, kCaughtSignals[i].handler);
    guard.installed[i] = true;
  }
  return guard;
}

void ReleaseTerminatingSignals(const SignalGuard& guard) {
  for (std::size_t i = 0; i < kCaughtCount; ++i) {
    if (guard.installed[i]) sigaction(kCaughtSignals[i].number, &guard.old[i], nullptr);
  }
}

// Reads one byte, waiting at most `timeout_ms` (-1: without limit).
// Returns the byte, -1 when nothing came in time, -2 when the terminal failed.
int ReadByte(int fd, int timeout_ms) {
  for (;;) {
    struct pollfd ready {
      fd, POLLIN, 0
    };
    int events = poll(&ready, 1, timeout_ms);
    if (events < 0 && errno == EINTR) continue;
    if (events < 0) return -2;
    if (events == 0) return -1;
    unsigned char byte;
    ssize_t got = read(fd, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return -2;
  }
}

// The longest key sequence kept whole. Past it, each new byte takes the
// last place: a sequence's parameters can only grow, and its final byte
// still decides.
constexpr std::size_t kMaxKeyBytes = 32;

// Reads the bytes of one key and decodes them: the first byte without a
// time limit, each further one within the pause that separates one key's
// sequence from the next key. A report that is no key press is skipped.
int WaitForKey(int fd) {
  unsigned char bytes[kMaxKeyBytes];
  std::size_t count = 0;
  for (;;) {
    const int byte = ReadByte(fd, count == 0 ? -1 : kSequencePauseMs);
    if (byte == -2) return -1;
    const bool paused = byte == -1;
    if (!paused) {
      if (count == kMaxKeyBytes) --count;
      bytes[count++] = static_cast<unsigned char>(byte);
    }
    const DecodedKey key = DecodeKeyBytes(bytes, count, !paused);
    if (key.status == KeyStatus::kKey) return key.code;
    if (key.status == KeyStatus::kNotAKey) count = 0;
  }
}

bool OpenTerminal() {
  if (!g_terminal.tried) {
    g_terminal.tried = true;
    g_terminal.fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    g_terminal.unusable = g_terminal.fd < 0;
  }
  return !g_terminal.unusable;
}

}  // namespace

// POSIX streams never translate line ends.
void PrepareConsoleOutput() {}

// A terminal shows the bytes in its own character set; nothing to convert.
// Straight to the descriptor: the text is out when the call returns, with no
// stream buffer to pass through and flush on the way.
void WriteConsoleText(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(STDOUT_FILENO, text, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;  // nowhere to show it; the run goes on, as with printf
    text += put;
    size -= static_cast<std::size_t>(put);
  }
}

// Paths are plain bytes here; the fixed double-byte ranges stay in force.
NarrowCodePage PathCodePage() { return NarrowCodePage{0, 0, nullptr}; }

int ReadKey() {
  if (!OpenTerminal()) return -1;
  const int fd = g_terminal.fd;
  if (tcgetattr(fd, &g_terminal.saved) != 0) {
    g_terminal.unusable = true;
    return -1;
  }
  struct termios raw = g_terminal.saved;
  // No line editing, echo, signal keys, flow control or CR translation;
  // output processing stays as it was. TCSANOW, never a flush: a key typed
  // before the wait answers it.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  g_terminal.raw = raw;
  SignalGuard guard = CatchTerminatingSignals();
  g_wait_running = 1;
  g_raw_mode_set = 1;  // before the switch: a signal just after it must find it set
  int code = -1;
  if (tcsetattr(fd, TCSANOW, &raw) == 0) code = WaitForKey(fd);
  g_wait_running = 0;  // before the restore: a SIGCONT now must not switch back
  tcsetattr(fd, TCSANOW, &g_terminal.saved);
  g_raw_mode_set = 0;
  ReleaseTerminatingSignals(guard);
  if (code < 0) g_terminal.unusable = true;
  return code;
}

}  // namespace platform

#include <langinfo.h>
#include <strings.h>

#include <clocale>

namespace platform {

bool ConsoleShowsUtf8() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current != nullptr ? current : "C";
  bool utf8 = false;
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    const char* codeset = nl_langinfo(CODESET);
    utf8 = codeset != nullptr &&
           (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  return utf8;
}

}  // namespace platform
