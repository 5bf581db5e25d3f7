#include "harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

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
  // themselves, and die of an interrupt.
  for (int signal_number : {SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) signal(signal_number, SIG_DFL);
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
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }

void LinkProgram(const std::string& target, const std::string& link) {
  std::filesystem::create_directories(std::filesystem::path(link).parent_path());
  std::filesystem::create_symlink(target, link);
}

}  // namespace harness
