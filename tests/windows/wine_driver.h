// Starts the Windows builds' programs under Wine from a native test: the
// program gets Windows paths (C:\..., Z:\...) and a narrow code page chosen
// by the locale, the test checks what it printed and what it left on disk
// through the Unix paths of the same files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace wine {

// One Windows build and the Wine prefix it runs in.
struct Build {
  const char* name;         // test-name suffix
  const char* prefix;       // cmake/wine-run.sh's prefix argument
  const char* program_dir;  // the preset's build folder (Unix path)
};
extern const Build kX86;
extern const Build kX64;

std::string BuildName(const Build& build);
void PrintTo(const Build& build, std::ostream* os);

// The folder of the build's Wine prefix, made on first use.
std::string PrefixFolder(const Build& build);

enum class Drive {
  kC,  // the prefix's drive_c
  kZ,  // the Unix root, as Wine maps it
};

// A fresh folder with both of its names; removed with its contents when the
// object goes.
class Folder {
 public:
  Folder(const Build& build, Drive drive);
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // `relative` uses '/' between components; names are UTF-8 on the Unix
  // side, as Wine stores them.
  std::string Unix(const std::string& relative = "") const;
  std::string Dos(const std::string& relative = "") const;

 private:
  std::string unix_path_;
  std::string dos_path_;
};

// Copies Trenzik.exe or Morvel.exe of `build` to `unix_path`.
void PlaceProgram(const Build& build, const std::string& program, const std::string& unix_path);

enum class Program { kSplitter, kJoiner };
void PrintTo(Program program, std::ostream* os);

// A run that meets an old file and asks before replacing it: the program
// copied into tools/ (Trenzik with a Trenzik.ini of size=512), a source of
// 600 bytes in data/ (for Morvel cut there into abc.zip.1 and .2), the old
// file written with "old contents".
struct QuestionScene {
  std::string program;                 // the program's Windows path
  std::vector<std::string> arguments;  // its words 1 ..
  std::string working_directory;       // Unix path, data/
  std::string existing;                // the old file (Unix path)
  std::string source;                  // the bytes being cut or bound
  std::string before_question;         // the console up to the question
  std::string accepted_rest;           // after the echo of an accepting key
};
QuestionScene PrepareQuestion(const Build& build, const Folder& folder, Program program,
                              unsigned seed);

// A locale that gives the ANSI code page 1252, and one that gives 932.
inline const char kWesternLocale[] = "C.UTF-8";
inline const char kJapaneseLocale[] = "ja_JP.UTF-8";
bool LocaleInstalled(const char* locale);

struct Start {
  std::string program;                 // word 0: the program's Windows path, as typed
  std::vector<std::string> arguments;  // words 1 ..
  std::string working_directory;       // Unix path
  std::string locale = kWesternLocale;
  // Inside a pseudo terminal that is the console; otherwise without any
  // terminal, so that every key wait returns at once.
  bool console = false;
  std::vector<harness::Step> steps;
  int timeout_seconds = 60;
};

// Wine's console switches the terminal into this mode for a key wait: the
// programs' own mode, less the signal keys, which it leaves on (Ctrl+C
// ends the program under Wine).
inline constexpr harness::KeyWaitMode kConsoleKeyWait{ICANON | ECHO, IXON | ICRNL};

harness::RunOutcome Run(const Build& build, const Start& start);

// A start without a console.
Start Plainly(const std::string& program, std::vector<std::string> arguments,
              const std::string& working_directory, const std::string& locale = kWesternLocale);

}  // namespace wine
