// Runs a built program the way a user would and records what it printed,
// byte for byte: either with no controlling terminal at all (every key wait
// returns at once) or inside a pseudo terminal that types keys, while
// standard input comes from a file the program must never read.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace harness {

// The terminal mode of a key wait: every flag named here is off while the
// program waits for a key.
struct KeyWaitMode {
  tcflag_t local_off;  // in c_lflag
  tcflag_t input_off;  // in c_iflag
};
// The programs' own key wait: no line editing, echo, signal keys, flow
// control or CR translation. A key typed before it would be cooked: Enter
// turned into LF, Ctrl+C into a signal.
inline constexpr KeyWaitMode kProgramKeyWait{ICANON | ECHO | ISIG, IXON | ICRNL};

// Once the program's output holds `wait_for` (searched from where the
// previous step's text was found), `action` runs and then `keys` are typed.
// A step that types keys after a text first waits until the terminal is in
// the key wait's mode; `at_key_wait` makes a step without keys wait for it
// too. Keys with an empty `wait_for` are typed at once, before any wait.
struct Step {
  std::string wait_for;
  std::string keys;
  std::function<void(pid_t)> action;
  bool at_key_wait = false;
};

struct ProgramRun {
  std::string executable;          // what is started
  std::vector<std::string> words;  // the command line, word 0 as typed
  std::string working_directory;
  bool terminal = false;
  std::vector<Step> steps;
  long long file_size_limit = -1;  // bytes; the program gets EFBIG beyond it
  long long open_files_limit = -1;  // descriptors the program may hold open
  int timeout_seconds = 30;
  KeyWaitMode key_wait_mode = kProgramKeyWait;
  // The locale variables (NAME=value) the program sees; none, whatever
  // the test runner has, unless a run names some.
  std::vector<std::string> locale;
};

struct RunOutcome {
  std::string output;         // standard output
  std::string terminal_text;  // what reached the terminal (echo only, if anything)
  int exit_status = -1;       // -1 when ended by a signal
  int signal = 0;
  long max_rss_kib = 0;  // the program's peak resident memory
  bool timed_out = false;
  bool stdin_untouched = false;  // the standard-input file was never read
  bool steps_done = false;       // every step ran
  struct termios mode_before {};
  struct termios mode_after {};
};

RunOutcome Run(const ProgramRun& run);

// The master side of the pseudo terminal of the run in progress, for a
// step's action to look at the terminal's mode; -1 outside a terminal run.
int ActiveTerminal();

// True when both modes agree on everything a program may change.
bool SameTerminalMode(const struct termios& a, const struct termios& b);

using testkit::TempFolder;

// File helpers for setting up and checking runs.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::string RandomBytes(std::size_t size, unsigned seed);
void MakeFolder(const std::string& path);
// A link at `link` to the executable `target`, so that a run's word 0 can
// name any folder.
void LinkProgram(const std::string& target, const std::string& link);

#ifdef TRENZIK_PROGRAM
// A splitter run through the terminal that meets an existing first segment
// and so asks its question.
struct QuestionSetup {
  TempFolder folder;
  ProgramRun run;
  QuestionSetup() {
    LinkProgram(TRENZIK_PROGRAM, folder / "bin/Trenzik");
    WriteFile(folder / "abc.zip", RandomBytes(600, 1));
    WriteFile(folder / "bin/abc.zip.1", "old segment");
    run.executable = folder / "bin/Trenzik";
    run.words = {folder / "bin/Trenzik", "abc.zip", "512"};
    run.working_directory = folder.path();
    run.terminal = true;
  }
};
#endif

}  // namespace harness
