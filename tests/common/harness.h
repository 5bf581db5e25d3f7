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
#include "test_files.h"

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
  long long file_size_limit = -1;   // bytes; the program gets EFBIG beyond it
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

// True when both modes agree in every field, the line discipline and both
// speeds included.
bool SameTerminalMode(const struct termios& a, const struct termios& b);

// A step that types `key` at the overwrite question and any key at the
// closing wait, in a terminal run.
ProgramRun Answering(ProgramRun run, const std::string& key = "y");

// Waits until the terminal of the run in progress is in the programs' key
// wait mode (one byte at a time too); false when the deadline passes first.
bool AwaitKeyWaitMode();

// A run held at a known point: standard output is a one-page pipe that
// already holds all but the bytes of `prefix`, so the program prints
// exactly `prefix` and then blocks in its next write until the test drains
// the pipe. `keys`, when there are any, are typed into a terminal before
// the program starts: a key typed early answers the next key wait.
class HeldRun {
 public:
  HeldRun(const ProgramRun& run, const std::string& prefix, const std::string& keys);
  ~HeldRun();
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

  // Waits until the pipe is full: the program has printed the prefix.
  bool Held();
  // Sends a signal and waits for the end it brings, before anything is
  // drained: a write that found room again could otherwise complete first.
  void SignalAndWait(int signal_number);
  // Drains the pipe (and the terminal) to the end and reaps the program.
  RunOutcome Finish();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int master_ = -1;
  int capacity_ = 0;
  std::size_t padding_ = 0;
  bool reaped_ = false;
  int status_ = 0;
};

// A small tmpfs mounted over `path`, to run a disk full where the test
// wants it; unmounted when the object goes.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  // Leaves exactly `pages` pages free: a file that holds them is made, the
  // rest of the disk filled, and that file removed again.
  void LeaveFree(std::size_t pages) const;

 private:
  std::string path_;
  bool mounted_ = false;
};

// Files that are no regular file, for every role a name can play.
enum class Special { kFifo, kSocket, kDevice, kDeviceLink, kFolder, kDanglingLink };
inline constexpr Special kEverySpecial[] = {Special::kFifo,   Special::kSocket,
                                            Special::kDevice, Special::kDeviceLink,
                                            Special::kFolder, Special::kDanglingLink};
const char* SpecialName(Special kind);
inline bool IsLink(Special kind) {
  return kind == Special::kDeviceLink || kind == Special::kDanglingLink;
}
// A folder or a dangling link is no file to read at all: a missing input.
inline bool IsAFile(Special kind) {
  return kind != Special::kFolder && kind != Special::kDanglingLink;
}
// False when the file system refuses to make it.
bool MakeSpecial(Special kind, const std::string& path);

using testkit::Exists;
using testkit::MakeFolder;
using testkit::RandomBytes;
using testkit::ReadFile;
using testkit::TempFolder;
using testkit::WriteFile;

// A link at `link` to the executable `target`, so that a run's word 0 can
// name any folder.
void LinkProgram(const std::string& target, const std::string& link);

}  // namespace harness
