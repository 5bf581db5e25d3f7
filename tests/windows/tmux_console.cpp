#include "tmux_console.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace wine {

namespace {

using Clock = std::chrono::steady_clock;
// How often a wait looks again; the waits themselves end on their condition.
constexpr std::chrono::milliseconds kPoll(25);

// One word for sh, whatever bytes it holds.
std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char byte : word) {
    if (byte == '\'') {
      quoted += "'\\''";
    } else {
      quoted += byte;
    }
  }
  return quoted + "'";
}

// Runs a program with `words`, returns its standard output; throws when it
// cannot be started or fails.
std::string Capture(const std::vector<std::string>& words) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t child;
  const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (started != 0) {
    close(out[0]);
    throw std::runtime_error("cannot start " + words[0]);
  }
  std::string text;
  char block[4096];
  ssize_t got;
  while ((got = read(out[0], block, sizeof block)) != 0) {
    if (got > 0) text.append(block, static_cast<std::size_t>(got));
  }
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(words[0] + " " + (words.size() > 1 ? words[1] : "") + " failed");
  }
  return text;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

bool TmuxInstalled() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

TmuxConsole::TmuxConsole()
    : socket_(folder_ / "tmux.socket"), status_file_(folder_ / "status") {}

TmuxConsole::~TmuxConsole() {
  if (!started_) return;
  try {
    Tmux({"kill-server"});
  } catch (const std::exception&) {
    // the server is gone already
  }
}

std::string TmuxConsole::Tmux(const std::vector<std::string>& arguments) const {
  std::vector<std::string> words = {"tmux", "-u", "-S", socket_, "-f", "/dev/null"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return Capture(words);
}

void TmuxConsole::Start(const Build& build, const ConsoleStart& start) {
  PrefixFolder(build);  // made, and TRENZIK_WINE_PREFIXES set, before the start
  output_file_ = start.output_file;
  // Ctrl+C reaches the shell too: it must neither end (the status would be
  // lost) nor ignore the signal (the program would inherit that).
  std::string command = "trap : INT\ncd " + Quoted(start.working_directory) + " || exit 99\n";
  command += "export LC_ALL=" + Quoted(start.locale) +
             " TRENZIK_WINE_PREFIXES=" + Quoted(std::getenv("TRENZIK_WINE_PREFIXES")) + "\n";
  command += Quoted(TRENZIK_WINE_RUN) + " " + build.prefix + " " + Quoted(start.program);
  for (const std::string& argument : start.arguments) command += " " + Quoted(argument);
  if (!start.output_file.empty()) command += " >" + Quoted(start.output_file);
  // The status appears whole (a rename); the pane stays for the screen to
  // be read until the server is killed.
  command += "\necho $? >" + Quoted(status_file_ + ".part") + " && mv " +
             Quoted(status_file_ + ".part") + " " + Quoted(status_file_) + "\nexec sleep 3600\n";
  harness::WriteFile(folder_ / "start.sh", command);
  Tmux({"new-session", "-d", "-x", "200", "-y", "60", "sh " + Quoted(folder_ / "start.sh")});
  started_ = true;
}

std::string TmuxConsole::Screen() const {
  return Tmux({"capture-pane", "-p", "-J", "-S", "-", "-E", "-"});
}

std::string TmuxConsole::Output() const {
  return harness::Exists(output_file_) ? harness::ReadFile(output_file_) : std::string();
}

bool TmuxConsole::WaitForScreen(const std::string& text, std::chrono::seconds deadline) {
  return WaitUntil([&] { return Screen().find(text) != std::string::npos; }, deadline);
}

bool TmuxConsole::WaitForOutput(const std::string& text, std::chrono::seconds deadline) {
  return WaitUntil([&] { return Output().find(text) != std::string::npos; }, deadline);
}

bool TmuxConsole::WaitForKeyWait(std::chrono::seconds deadline) {
  std::string tty = Tmux({"display-message", "-p", "#{pane_tty}"});
  while (!tty.empty() && tty.back() == '\n') tty.pop_back();
  const int fd = open(tty.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool raw = WaitUntil(
      [fd] {
        struct termios mode {};
        return tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ICANON) == 0;
      },
      deadline);
  close(fd);
  return raw;
}

void TmuxConsole::SendKeys(const std::string& keys, bool literal) {
  if (literal) {
    Tmux({"send-keys", "-l", keys});
  } else {
    Tmux({"send-keys", keys});
  }
}

int TmuxConsole::WaitForExit(std::chrono::seconds deadline) {
  if (!WaitUntil([this] { return harness::Exists(status_file_); }, deadline)) return -1;
  return std::atoi(harness::ReadFile(status_file_).c_str());
}

bool TmuxConsole::StillRunningAfter(std::chrono::milliseconds period) {
  return !WaitUntil([this] { return harness::Exists(status_file_); }, period);
}

}  // namespace wine
