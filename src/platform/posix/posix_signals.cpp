// The one owner of signal handling: a single table of the signals the run
// catches and one handler for all of them. Whatever ends the process puts
// the terminal's mode back and removes an armed temporary file first.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/posix_internal.h"

namespace platform::posix {

namespace {

enum class Response { kDie, kStop, kResume };

struct CaughtSignal {
  int number;
  Response response;
};
// Every catchable signal whose default action ends the process, and the
// two of job control.
constexpr CaughtSignal kCaughtSignals[] = {
    {SIGINT, Response::kDie},    {SIGQUIT, Response::kDie},   {SIGTERM, Response::kDie},
    {SIGHUP, Response::kDie},    {SIGPIPE, Response::kDie},   {SIGALRM, Response::kDie},
    {SIGUSR1, Response::kDie},   {SIGUSR2, Response::kDie},   {SIGXCPU, Response::kDie},
    {SIGVTALRM, Response::kDie}, {SIGPROF, Response::kDie},   {SIGTSTP, Response::kStop},
    {SIGCONT, Response::kResume},
};

// Read by the handler, so plain static storage: the folder and name of the
// armed temporary file.
struct ArmedFile {
  int folder_fd = AT_FDCWD;
  char name[4096];
  volatile sig_atomic_t armed = 0;
};
ArmedFile g_armed;

void OnSignal(int signal_number);

// A handler runs with all the others held back, so that no two of them act
// at once; those that return restart the call they cut into.
void SetDisposition(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = handler == SIG_DFL ? 0 : SA_RESTART;
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

Response ResponseTo(int signal_number) {
  for (const CaughtSignal& caught : kCaughtSignals) {
    if (caught.number == signal_number) return caught.response;
  }
  return Response::kDie;
}

// Uses only async-signal-safe calls (unlinkat, tcsetattr, sigaction,
// sigprocmask, raise); when it returns, errno is as it was.
void OnSignal(int signal_number) {
  const int saved_errno = errno;
  switch (ResponseTo(signal_number)) {
    case Response::kDie:
      PutTerminalModeBack();
      if (g_armed.armed) unlinkat(g_armed.folder_fd, g_armed.name, 0);
      g_armed.armed = 0;
      // The same death the signal would have given without a handler (exit
      // status, core dump).
      SetDisposition(signal_number, SIG_DFL);
      raise(signal_number);
      Unblock(signal_number);  // the pending signal ends the process here
      break;
    case Response::kStop:
      // The shell gets its mode back while the program is stopped; once
      // continued, a key wait goes on in its own mode.
      PutTerminalModeBack();
      SetDisposition(signal_number, SIG_DFL);
      raise(signal_number);
      Unblock(signal_number);  // stopped here until SIGCONT (in an orphaned group, not at all)
      SetDisposition(signal_number, OnSignal);
      ResumeTerminalWaitMode();
      break;
    case Response::kResume:
      // Also after SIGSTOP or SIGTTIN, and after a shell's fg that put back
      // a mode of its own.
      ResumeTerminalWaitMode();
      break;
  }
  errno = saved_errno;
}

}  // namespace

void CatchSignalsForRun() {
  for (const CaughtSignal& caught : kCaughtSignals) {
    struct sigaction previous {};
    // A signal the program was started to ignore (nohup, a background
    // job's SIGINT) stays ignored.
    if (sigaction(caught.number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    SetDisposition(caught.number, OnSignal);
  }
}

HeldSignals HoldSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const CaughtSignal& caught : kCaughtSignals) sigaddset(&set, caught.number);
  HeldSignals held;
  sigprocmask(SIG_BLOCK, &set, &held.previous_mask);
  return held;
}

void ReleaseSignals(const HeldSignals& held) {
  sigprocmask(SIG_SETMASK, &held.previous_mask, nullptr);
}

void ArmRemoval(int folder_fd, const char* name) {
  const std::size_t length = std::strlen(name);
  if (length >= sizeof g_armed.name) return;
  const HeldSignals held = HoldSignals();
  g_armed.folder_fd = folder_fd;
  std::memcpy(g_armed.name, name, length + 1);
  g_armed.armed = 1;
  ReleaseSignals(held);
}

void DisarmRemoval() {
  const HeldSignals held = HoldSignals();
  g_armed.armed = 0;
  ReleaseSignals(held);
}

}  // namespace platform::posix

namespace platform {

void PrepareProcess() {
  // Beyond a file-size limit a write then fails with EFBIG, which the runs
  // report as a write error, instead of the process being killed unheard.
  signal(SIGXFSZ, SIG_IGN);
  posix::CatchSignalsForRun();
}

}  // namespace platform
