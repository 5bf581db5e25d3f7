#include "harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "expected_text.h"

namespace harness {

namespace {

// Standard input of every run: an answer that would accept any question,
// so that a program reading it instead of the console gives itself away.
constexpr char kStdinBait[] = "yyyy\ny\ny\n";
// How often the terminal's mode is looked at while a step waits for a key
// wait to begin; nothing signals a change of mode.
constexpr int kModePollMilliseconds = 1;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

[[noreturn]] void StartChild(const ProgramRun& run, int stdin_fd, int stdout_fd, int stderr_fd) {
  dup2(stdin_fd, 0);
  dup2(stdout_fd, 1);
  dup2(stderr_fd, 2);
  if (!run.working_directory.empty() && chdir(run.working_directory.c_str()) != 0) _exit(126);
  // The signals a program may meet at their defaults, whatever the test
  // runner inherited: the programs must turn a file-size limit into EFBIG
  // themselves, and die of an interrupt. A SIGQUIT leaves no core file.
  for (int signal_number :
       {SIGXFSZ, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, SIGXCPU}) {
    signal(signal_number, SIG_DFL);
  }
  const struct rlimit no_core {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  // What the programs print may follow the locale: the run's own, not the
  // test runner's.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) unsetenv(name);
  for (const std::string& setting : run.locale) putenv(const_cast<char*>(setting.c_str()));
  for (auto [resource, value] : {std::pair{RLIMIT_FSIZE, run.file_size_limit},
                                 std::pair{RLIMIT_NOFILE, run.open_files_limit}}) {
    if (value < 0) continue;
    struct rlimit limit {
      static_cast<rlim_t>(value), static_cast<rlim_t>(value)
    };
    setrlimit(resource, &limit);
  }
  std::vector<char*> words;
  for (const std::string& word : run.words) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);
  execv(run.executable.c_str(), words.data());
  _exit(127);
}

int MakeStdinFile() {
  std::string name = (std::filesystem::temp_directory_path() / "trenzik-stdin-XXXXXX").string();
  int fd = mkstemp(name.data());
  if (fd < 0) Fail("mkstemp");
  unlink(name.c_str());
  if (write(fd, kStdinBait, sizeof kStdinBait - 1) < 0) Fail("write");
  lseek(fd, 0, SEEK_SET);
  return fd;
}

int g_active_terminal = -1;

void Drain(int fd, std::string* into, bool* open) {
  char block[4096];
  ssize_t got = read(fd, block, sizeof block);
  if (got > 0) {
    into->append(block, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    *open = false;
  }
}

// True when the terminal behind `master` has every flag of `mode` off.
bool InKeyWaitMode(int master, const KeyWaitMode& mode) {
  struct termios now {};
  if (tcgetattr(master, &now) != 0) return false;
  return (now.c_lflag & mode.local_off) == 0 && (now.c_iflag & mode.input_off) == 0;
}

bool WaitsForKeyWait(const Step& step, int master) {
  if (master < 0 || step.wait_for.empty()) return false;
  return step.at_key_wait || !step.keys.empty();
}

}  // namespace

RunOutcome Run(const ProgramRun& run) {
  RunOutcome outcome;
  int stdin_fd = MakeStdinFile();
  int out_pipe[2];
  if (pipe(out_pipe) != 0) Fail("pipe");
  int saved_stderr = dup(2);

  int master = -1;
  // Held open here for the whole run: without it, the terminal has no
  // opener between the program's start and its first key wait, and the
  // master reports a hang-up whose read then blocks once the program opens
  // the terminal.
  int slave = -1;
  pid_t child;
  if (run.terminal) {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
    // Read before the program runs: afterwards it may already be waiting
    // for a key, with the terminal in the wait's mode.
    tcgetattr(master, &outcome.mode_before);
    child = fork();
    if (child < 0) Fail("fork");
    if (child == 0) {
      close(master);
      if (login_tty(slave) != 0) _exit(126);  // a new session, the terminal its own
    }
  } else {
    child = fork();
    if (child < 0) Fail("fork");
    if (child == 0) setsid();  // a new session without a controlling terminal
  }
  if (child == 0) {
    close(out_pipe[0]);
    StartChild(run, stdin_fd, out_pipe[1], saved_stderr);
  }
  close(out_pipe[1]);
  close(saved_stderr);
  g_active_terminal = master;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(run.timeout_seconds);
  std::size_t step = 0;
  std::size_t search_from = 0;
  bool text_seen = false;  // the current step's text has appeared
  bool awaiting_mode = false;
  bool out_open = true;
  bool terminal_open = master >= 0;
  while (out_open) {
    // Run every step whose text has appeared and whose key wait has begun.
    awaiting_mode = false;
    while (step < run.steps.size()) {
      const Step& next = run.steps[step];
      if (!text_seen) {
        std::size_t found = outcome.output.find(next.wait_for, search_from);
        if (found == std::string::npos) break;
        search_from = found + next.wait_for.size();
        text_seen = true;
      }
      // The text is out before the wait begins; a key typed in between
      // would meet the terminal's own line handling.
      if (WaitsForKeyWait(next, master) && !InKeyWaitMode(master, run.key_wait_mode)) {
        awaiting_mode = true;
        break;
      }
      if (next.action) next.action(child);
      if (!next.keys.empty() && master >= 0) {
        if (write(master, next.keys.data(), next.keys.size()) < 0) Fail("write to terminal");
      }
      ++step;
      text_seen = false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      outcome.timed_out = true;
      if (awaiting_mode) {
        ADD_FAILURE() << "the key wait after \"" << run.steps[step].wait_for
                      << "\" did not begin within " << run.timeout_seconds
                      << " s: the terminal never reached the wait's mode";
      }
      kill(child, SIGKILL);
      break;
    }
    const int wait_ms = awaiting_mode && left > kModePollMilliseconds ? kModePollMilliseconds
                                                                      : static_cast<int>(left);
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {master, POLLIN, 0}};
    int count = terminal_open ? 2 : 1;
    if (poll(fds, static_cast<nfds_t>(count), wait_ms) < 0 && errno != EINTR) {
      Fail("poll");
    }
    if (fds[0].revents != 0) Drain(out_pipe[0], &outcome.output, &out_open);
    if (terminal_open && fds[1].revents != 0) Drain(master, &outcome.terminal_text, &terminal_open);
  }
  if (awaiting_mode && !outcome.timed_out) {
    ADD_FAILURE() << "the program ended before its key wait after \"" << run.steps[step].wait_for
                  << "\" began";
  }
  outcome.steps_done = step == run.steps.size();
  g_active_terminal = -1;

  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  outcome.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  if (master >= 0) {
    tcgetattr(master, &outcome.mode_after);
    close(master);
    close(slave);
  }
  outcome.stdin_untouched = lseek(stdin_fd, 0, SEEK_CUR) == 0;
  close(stdin_fd);
  close(out_pipe[0]);
  return outcome;
}

int ActiveTerminal() { return g_active_terminal; }

bool SameTerminalMode(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_line == b.c_line &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

ProgramRun Answering(ProgramRun run, const std::string& key) {
  run.terminal = true;
  run.steps = {Step{"(y/n)? ", key, nullptr}, Step{expected::kClosingPrompt, "x", nullptr}};
  return run;
}

bool AwaitKeyWaitMode() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    struct termios mode {};
    const int terminal = g_active_terminal;
    if (terminal >= 0 && InKeyWaitMode(terminal, kProgramKeyWait) &&
        tcgetattr(terminal, &mode) == 0 && mode.c_cc[VMIN] == 1) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kModePollMilliseconds));
  }
  ADD_FAILURE() << "the terminal never reached the key wait's mode";
  return false;
}

HeldRun::HeldRun(const ProgramRun& run, const std::string& prefix, const std::string& keys) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  out_ = fds[0];
  capacity_ = fcntl(fds[1], F_SETPIPE_SZ, 4096);
  if (capacity_ <= 0 || static_cast<std::size_t>(capacity_) <= prefix.size()) {
    close(fds[1]);
    Fail("pipe size");
  }
  padding_ = static_cast<std::size_t>(capacity_) - prefix.size();
  const std::string padding(padding_, '#');
  if (write(fds[1], padding.data(), padding.size()) != static_cast<ssize_t>(padding.size())) {
    close(fds[1]);
    Fail("padding");
  }
  pid_ = keys.empty() ? fork() : forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    if (keys.empty()) setsid();
    close(fds[0]);
    StartChild(run, open("/dev/null", O_RDONLY), fds[1], 2);
  }
  close(fds[1]);
  if (pid_ < 0) Fail("fork");
  if (master_ >= 0 && write(master_, keys.data(), keys.size()) < 0) Fail("keys");
}

HeldRun::~HeldRun() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (master_ >= 0) close(master_);
}

bool HeldRun::Held() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    int queued = 0;
    if (ioctl(out_, FIONREAD, &queued) == 0 && queued == capacity_) return true;
    if (waitpid(pid_, &status_, WNOHANG) != 0) {
      reaped_ = true;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

void HeldRun::SignalAndWait(int signal_number) {
  kill(pid_, signal_number);
  waitpid(pid_, &status_, 0);
  reaped_ = true;
}

RunOutcome HeldRun::Finish() {
  RunOutcome outcome;
  std::string all;
  char block[4096];
  if (master_ >= 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  for (;;) {
    // The terminal is drained too, so that no echo blocks the program.
    while (master_ >= 0 && read(master_, block, sizeof block) > 0) {
    }
    const ssize_t got = read(out_, block, sizeof block);
    if (got <= 0) break;
    all.append(block, static_cast<std::size_t>(got));
  }
  if (!reaped_) waitpid(pid_, &status_, 0);
  reaped_ = true;
  outcome.output = all.substr(padding_);
  if (WIFEXITED(status_)) outcome.exit_status = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) outcome.signal = WTERMSIG(status_);
  return outcome;
}

SmallDisk::SmallDisk(const std::string& path) : path_(path) {
  mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=2m") == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

void SmallDisk::LeaveFree(std::size_t pages) const {
  const std::string room = path_ + "/.room";
  if (pages > 0) WriteFile(room, std::string(pages * 4096, 'r'));
  const int fd = open((path_ + "/.filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  const std::string block(4096, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  close(fd);
  if (pages > 0) std::filesystem::remove(room);
}

const char* SpecialName(Special kind) {
  switch (kind) {
    case Special::kFifo: return "Fifo";
    case Special::kSocket: return "Socket";
    case Special::kDevice: return "Device";
    case Special::kDeviceLink: return "DeviceLink";
    case Special::kFolder: return "Folder";
    case Special::kDanglingLink: return "DanglingLink";
  }
  return "";
}

bool MakeSpecial(Special kind, const std::string& path) {
  std::error_code failed;
  switch (kind) {
    case Special::kFifo: return mkfifo(path.c_str(), 0600) == 0;
    case Special::kSocket: {
      // The name stays when the socket is closed: nobody listens behind it.
      struct sockaddr_un address {};
      address.sun_family = AF_UNIX;
      if (path.size() >= sizeof address.sun_path) return false;
      path.copy(address.sun_path, path.size());
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      const bool bound =
          fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
      if (fd >= 0) close(fd);
      return bound;
    }
    case Special::kDevice:
      return mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;  // /dev/zero
    case Special::kDeviceLink: std::filesystem::create_symlink("/dev/zero", path, failed); break;
    case Special::kFolder: std::filesystem::create_directory(path, failed); break;
    case Special::kDanglingLink: std::filesystem::create_symlink("nowhere", path, failed); break;
  }
  return !failed;
}

void LinkProgram(const std::string& target, const std::string& link) {
  std::filesystem::create_directories(std::filesystem::path(link).parent_path());
  std::filesystem::create_symlink(target, link);
}

}  // namespace harness
