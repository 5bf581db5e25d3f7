// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include "platform/key_decoding.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

const char kPathSeparator = '/';
const char kNameSeparators[] = "/";

namespace {

int Descriptor(FileHandle file) { return static_cast<int>(file.value); }

FileHandle FromDescriptor(int fd) { return fd < 0 ? kNoFile : FileHandle{fd}; }

bool IsFolder(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

// Largest single request handed to the kernel; keeps counts far from any
// platform limit on one call.
constexpr std::size_t kMaxRequest = std::size_t{1} << 30;

}  // namespace

FileHandle OpenForReading(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0 && IsFolder(fd)) {
    // Windows never opens a folder as a file; neither do we.
    close(fd);
    errno = EISDIR;
    return kNoFile;
  }
  return FromDescriptor(fd);
}

FileHandle CreateForWriting(const char* path) {
  // open() refuses a folder for writing with EISDIR by itself.
  return FromDescriptor(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool CloseFile(FileHandle file) { return close(Descriptor(file)) == 0; }

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

namespace {

// Lets the kernel move the bytes without a trip through user memory.
// Returns the count copied before it stopped; `refused` tells whether it
// stopped because the kernel or file system cannot do it here, in which case
// the caller goes on with plain reads and writes (which also tell a read
// failure from a write failure).
std::uint64_t KernelCopy(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                         std::uint64_t count, bool* input_ended) {
  std::uint64_t copied = 0;
  *input_ended = false;
#if defined(__linux__)
  while (copied < count) {
    std::uint64_t left = count - copied;
    auto request = static_cast<std::size_t>(left < kMaxRequest ? left : kMaxRequest);
    off_t in_offset = static_cast<off_t>(from_offset + copied);
    off_t out_offset = static_cast<off_t>(to_offset + copied);
    ssize_t moved = copy_file_range(from, &in_offset, to, &out_offset, request, 0);
    if (moved > 0) {
      copied += static_cast<std::uint64_t>(moved);
      continue;
    }
    if (moved == 0) {
      *input_ended = true;
      break;
    }
    if (errno == EINTR) continue;
    break;  // EXDEV, EINVAL, ENOSYS, EOPNOTSUPP, EFBIG, EIO...: let plain I/O decide
  }
#else
  (void)from;
  (void)from_offset;
  (void)to;
  (void)to_offset;
  (void)count;
#endif
  return copied;
}

}  // namespace

CopyOutcome CopyRange(FileHandle from, std::uint64_t from_offset, FileHandle to,
                      std::uint64_t to_offset, std::uint64_t count, CopyBuffer buffer) {
  bool input_ended = false;
  std::uint64_t copied =
      KernelCopy(Descriptor(from), from_offset, Descriptor(to), to_offset, count, &input_ended);
  if (input_ended) return {copied, CopyFailure::kNone};
  while (copied < count) {
    std::uint64_t left = count - copied;
    auto request = static_cast<std::size_t>(left < buffer.size ? left : buffer.size);
    std::int64_t got = ReadAt(from, from_offset + copied, buffer.bytes, request);
    if (got < 0) return {copied, CopyFailure::kRead};
    if (got == 0) break;
    if (!WriteAt(to, to_offset + copied, buffer.bytes, static_cast<std::size_t>(got))) {
      return {copied, CopyFailure::kWrite};
    }
    copied += static_cast<std::uint64_t>(got);
  }
  return {copied, CopyFailure::kNone};
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

  const bool wildcard = HasWildcard(pattern);
  struct stat target;
  if (!wildcard && lstat(path, &target) != 0) return {false, false};

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

// The terminal and its mode before the wait. Static because a terminating
// signal during the wait must put the mode back, and a handler sees nothing
// else.
struct TerminalState {
  int fd = -1;
  bool tried = false;
  bool unusable = false;
  struct termios saved {};
};
TerminalState g_terminal;
volatile sig_atomic_t g_mode_changed = 0;

void RestoreModeAndDie(int signal_number) {
  if (g_mode_changed) tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.saved);
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

struct SignalGuard {
  struct sigaction old_term {};
  struct sigaction old_hup {};
};

SignalGuard CatchTerminatingSignals() {
  SignalGuard guard;
  struct sigaction action {};
  action.sa_handler = RestoreModeAndDie;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, &guard.old_term);
  sigaction(SIGHUP, &action, &guard.old_hup);
  return guard;
}

void ReleaseTerminatingSignals(const SignalGuard& guard) {
  sigaction(SIGTERM, &guard.old_term, nullptr);
  sigaction(SIGHUP, &guard.old_hup, nullptr);
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

  SignalGuard guard = CatchTerminatingSignals();
  g_mode_changed = 1;
  int code = -1;
  if (tcsetattr(fd, TCSANOW, &raw) == 0) code = WaitForKey(fd);
  tcsetattr(fd, TCSANOW, &g_terminal.saved);
  g_mode_changed = 0;
  ReleaseTerminatingSignals(guard);
  if (code < 0) g_terminal.unusable = true;
  return code;
}

}  // namespace platform
