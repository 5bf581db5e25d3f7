// POSIX implementation of the platform layer.
#include "platform/platform.h"

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
    ssize_t moved = copy_file_range(from, &in_offset, to, &out_offset,
                                    Request(count - result.copied, kMaxRequest), 0);
    if (moved > 0) {
      result.copied += static_cast<std::uint64_t>(moved);
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
  const long page = sysconf(_SC_PAGESIZE);
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

constexpr int kEscape = 27;
constexpr int kExtendedLead = 224;  // cursor and editing keys, F11, F12
constexpr int kFunctionLead = 0;    // F1 .. F10 and other keys without a character
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

// Lead code of a CSI sequence "ESC [ params final", as _getch reports the key.
int CsiLeadCode(const std::string& params, int final_byte) {
  switch (final_byte) {
    case 'P': case 'Q': case 'R': case 'S':  // F1..F4 with modifiers
    case 'Z':                                // Shift+Tab
    case 'E':                                // keypad 5
      return kFunctionLead;
    case '~': {
      int number = std::atoi(params.c_str());
      if (number >= 11 && number <= 21) return kFunctionLead;  // F1..F10
      if (number >= 25) return kFunctionLead;                  // F13 and above
      return kExtendedLead;  // Home, Insert, Delete, End, Page Up/Down, F11, F12
    }
    default:
      return kExtendedLead;  // arrows, Home, End
  }
}

// After an Escape byte: a lone Escape, or a key's whole sequence, read and
// dropped so that the next wait waits for a new key. -3 means a report that
// is no key press (focus), to be skipped.
int DecodeEscape(int fd) {
  int second = ReadByte(fd, kSequencePauseMs);
  if (second == -1) return kEscape;
  if (second < 0) return second;
  if (second == 'O') {  // SS3: ESC O x
    int key = ReadByte(fd, kSequencePauseMs);
    if (key == 'P' || key == 'Q' || key == 'R' || key == 'S') return kFunctionLead;
    return key < 0 ? kFunctionLead : kExtendedLead;
  }
  if (second != '[') return kFunctionLead;  // Alt with a key
  int byte = ReadByte(fd, kSequencePauseMs);
  if (byte == '[') {  // Linux console F1..F5: ESC [ [ A .. E
    ReadByte(fd, kSequencePauseMs);
    return kFunctionLead;
  }
  std::string params;
  while (byte >= 0x20 && byte < 0x40) {  // parameter and intermediate bytes
    params.push_back(static_cast<char>(byte));
    byte = ReadByte(fd, kSequencePauseMs);
  }
  if (params.empty() && (byte == 'I' || byte == 'O')) return -3;  // focus in/out
  return CsiLeadCode(params, byte);
}

// A character of a multi-byte encoding (UTF-8 on most terminals) arrives as
// several bytes: keep the first, drop the rest so they answer no later wait.
void DropContinuationBytes(int fd, int lead) {
  if (lead < 0xC2 || lead > 0xF4) return;
  int expected = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  for (int i = 0; i < expected; ++i) {
    if (ReadByte(fd, kSequencePauseMs) < 0) return;
  }
}

int WaitForKey(int fd) {
  for (;;) {
    int byte = ReadByte(fd, -1);
    if (byte < 0) return -1;
    if (byte != kEscape) {
      DropContinuationBytes(fd, byte);
      return byte;
    }
    int code = DecodeEscape(fd);
    if (code == -3) continue;
    return code < 0 ? -1 : code;
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
