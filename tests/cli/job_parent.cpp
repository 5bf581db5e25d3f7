// Starts a program the way a job-control shell does: in a process group of
// its own that holds the terminal, with this process as its parent in the
// same session. Only then does a stop signal stop it (the kernel drops
// SIGTSTP for an orphaned group, which a program started straight in a
// new session is). Unlike a shell, it never touches the terminal's mode,
// so what the terminal shows while the program is stopped is the
// program's own doing.
//
//   job_parent EXECUTABLE WORD0 [WORD...]
//
// Ends as the program ended: with its exit status, or by its signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Gives the terminal to `group`; called in both processes, whichever runs
// first, as shells do.
void HandTerminalTo(pid_t group) {
  int terminal = open("/dev/tty", O_RDWR | O_NOCTTY);
  if (terminal < 0) return;
  signal(SIGTTOU, SIG_IGN);  // a background group may not set it otherwise
  tcsetpgrp(terminal, group);
  signal(SIGTTOU, SIG_DFL);
  close(terminal);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: job_parent EXECUTABLE WORD0 [WORD...]\n");
    return 2;
  }
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    setpgid(0, 0);
    HandTerminalTo(getpid());
    execv(argv[1], argv + 2);
    _exit(127);
  }
  setpgid(child, child);
  HandTerminalTo(child);
  int status = 0;
  for (;;) {
    if (waitpid(child, &status, WUNTRACED) < 0) return 2;
    if (!WIFSTOPPED(status)) break;  // stopped: wait for it to go on and end
  }
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
