// A real console for the Windows programs: Wine's console on a terminal that
// tmux emulates, so that a test reads the screen as a user would see it and
// types keys (Ctrl+C among them) the way a keyboard does. Each console has
// its own tmux server, on a socket in a fresh folder.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "wine_driver.h"

namespace wine {

struct ConsoleStart {
  std::string program;                 // word 0: the program's Windows path, as typed
  std::vector<std::string> arguments;  // words 1 ..
  std::string working_directory;       // Unix path
  std::string locale = kWesternLocale;
  // Standard output into this Unix file instead of onto the screen (the
  // exact bytes); key waits still read the console.
  std::string output_file;
};

class TmuxConsole {
 public:
  TmuxConsole();
  ~TmuxConsole();
  TmuxConsole(const TmuxConsole&) = delete;
  TmuxConsole& operator=(const TmuxConsole&) = delete;

  // Starts the program in the console's only window (200 x 60 cells).
  void Start(const Build& build, const ConsoleStart& start);

  // What the screen shows, wrapped lines joined, trailing blanks dropped.
  std::string Screen() const;
  // Waits until the screen (or the output file) holds `text`; false when
  // the deadline passes first.
  bool WaitForScreen(const std::string& text, std::chrono::seconds deadline);
  bool WaitForOutput(const std::string& text, std::chrono::seconds deadline);
  // Waits until the program reads keys in raw mode: Wine switches the
  // terminal out of canonical mode at its first console read, which comes
  // after the key wait has set up everything it needs.
  bool WaitForKeyWait(std::chrono::seconds deadline);

  // tmux key names: "C-c", "Enter", or literal text with `literal`.
  void SendKeys(const std::string& keys, bool literal = false);

  // The program's exit status once it has ended; -1 when the deadline passes.
  int WaitForExit(std::chrono::seconds deadline);
  // True while the program has not ended, `period` from now.
  bool StillRunningAfter(std::chrono::milliseconds period);

  std::string Output() const;  // the output file's bytes

 private:
  std::string Tmux(const std::vector<std::string>& arguments) const;

  harness::TempFolder folder_;
  std::string socket_;
  std::string status_file_;
  std::string output_file_;
  bool started_ = false;
};

// The tmux program is there (tests skip without it).
bool TmuxInstalled();

// Polls `condition` until it holds; false when the deadline passes first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

}  // namespace wine
