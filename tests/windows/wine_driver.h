// Starts the Windows builds' programs under Wine from a native test: the
// program gets Windows paths (C:\..., Z:\...) and a narrow code page chosen
// by the locale, the test checks what it printed and what it left on disk
// through the Unix paths of the same files.
#pragma once

#include <cstdint>
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

harness::RunOutcome Run(const Build& build, const Start& start);

// A start without a console.
Start Plainly(const std::string& program, std::vector<std::string> arguments,
              const std::string& working_directory, const std::string& locale = kWesternLocale);

// The first bytes of segment 1 of a set.
std::string SegmentHeader(std::int32_t count, const std::string& name);

// The text the programs print, built from their message formats.
namespace text {

std::string IniRead(int segment_size);
inline const std::string kIniMissing =
    "\n 'Trenzik.ini' file not found..\n [segment size] is set to default: 1440000\n\n";
inline const std::string kMeasured = " Calculating file size.... Done!\n";
// " writing header...." up to the splitter's last summary line.
std::string SplitWritten(const std::string& stored_name, const std::string& folder, int count);
inline const std::string kSplitterNotFound =
    "\nERROR:\n  File not found. \n  Check the filename and try again.\n";

// The joiner's progress lines and summary.
std::string Joined(const std::string& segment_base, const std::string& stored_name,
                   const std::string& folder, int count);
inline const std::string kJoinerNotFound =
    "\n ERROR : \n\n\x81\x40"
    "File not found. \n\n";

inline const std::string kSplitterQuestion = " Ok to overwrite all files(y/n)? ";
inline const std::string kJoinerQuestion = " Ok to overwrite file(y/n)? ";

}  // namespace text

}  // namespace wine
