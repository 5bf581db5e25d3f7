// The console: text out to standard output, and one key press at a time
// from the controlling terminal, never from standard input.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <string>

#include "platform/key_decoding.h"
#include "platform/posix/posix_internal.h"

namespace platform {
namespace posix {

namespace {

// How long a lone Escape waits for the rest of a sequence.
constexpr int kSequencePauseMs = 75;

// The terminal, its mode before the wait and the wait's own mode. Static
// because the signal handlers must reach them, and a handler sees nothing
// else.
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

// For the signal handlers: only async-signal-safe calls (tcsetattr,
// tcgetpgrp, getpgrp).
void PutTerminalModeBack() {
  if (g_raw_mode_set) {
    tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.saved);
    g_raw_mode_set = 0;
  }
}

// Only from the foreground: a background process that changed the mode
// would be stopped again at once (SIGTTOU). It reads the terminal only once
// it is brought back, and then this runs again.
void ResumeTerminalWaitMode() {
  if (!g_wait_running || tcgetpgrp(g_terminal.fd) != getpgrp()) return;
  g_raw_mode_set = 1;
  tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.raw);
}

}  // namespace posix

// POSIX streams never translate line ends.
void PrepareConsoleOutput() {}

// A terminal shows the bytes in its own character set; nothing to convert.
// Straight to the descriptor: the text is out when the call returns, with no
// stream buffer to pass through and flush on the way. Standard output may
// have been left non-blocking by whoever shares it: a full pipe or terminal
// is waited on, not taken for a failure.
void WriteConsoleText(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(STDOUT_FILENO, text, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) {
      struct pollfd room {
        STDOUT_FILENO, POLLOUT, 0
      };
      if (poll(&room, 1, -1) >= 0 || errno == EINTR) continue;
      return;
    }
    if (put <= 0) return;  // nowhere to show it; the run goes on, as with printf
    text += put;
    size -= static_cast<std::size_t>(put);
  }
}

// Paths are plain bytes here; the fixed double-byte ranges stay in force.
NarrowCodePage PathCodePage() { return NarrowCodePage{0, 0, nullptr}; }

int ReadKey() {
  if (!posix::OpenTerminal()) return -1;
  const int fd = posix::g_terminal.fd;
  if (tcgetattr(fd, &posix::g_terminal.saved) != 0) {
    posix::g_terminal.unusable = true;
    return -1;
  }
  struct termios raw = posix::g_terminal.saved;
  // No line editing, echo, signal keys, flow control or CR translation;
  // output processing stays as it was. TCSANOW, never a flush: a key typed
  // before the wait answers it.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  posix::g_terminal.raw = raw;
  posix::g_wait_running = 1;
  posix::g_raw_mode_set = 1;  // before the switch: a signal just after it must find it set
  int code = -1;
  if (tcsetattr(fd, TCSANOW, &raw) == 0) code = posix::WaitForKey(fd);
  posix::g_wait_running = 0;  // before the restore: a SIGCONT now must not switch back
  tcsetattr(fd, TCSANOW, &posix::g_terminal.saved);
  posix::g_raw_mode_set = 0;
  if (code < 0) posix::g_terminal.unusable = true;
  return code;
}

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
