#include "wine_driver.h"

#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "expected_text.h"

namespace wine {

const Build kX86{"x86", "win32", TRENZIK_WINDOWS_X86_DIR};
const Build kX64{"x64", "win64", TRENZIK_WINDOWS_X64_DIR};

std::string BuildName(const Build& build) { return build.name; }
void PrintTo(const Build& build, std::ostream* os) { *os << build.name; }

namespace {

std::string PrefixRoot() {
  const char* chosen = std::getenv("TRENZIK_WINE_PREFIXES");
  std::string root =
      (chosen != nullptr && chosen[0] != '\0') ? chosen : TRENZIK_WINE_PREFIXES_DEFAULT;
  // wine-run.sh must pick the same prefixes as the folders made here.
  setenv("TRENZIK_WINE_PREFIXES", root.c_str(), 1);
  return root;
}

std::string BackslashesFor(std::string path) {
  for (char& byte : path) {
    if (byte == '/') byte = '\\';
  }
  return path;
}

}  // namespace

std::string PrefixFolder(const Build& build) {
  const std::string folder = PrefixRoot() + "/" + build.prefix;
  if (!std::filesystem::exists(folder + "/system.reg")) {
    // wine-run.sh makes the prefix before it starts anything.
    harness::ProgramRun run;
    run.executable = TRENZIK_WINE_RUN;
    run.words = {TRENZIK_WINE_RUN, build.prefix, "cmd", "/c", "exit"};
    run.timeout_seconds = 300;
    harness::Run(run);
    if (!std::filesystem::exists(folder + "/system.reg")) {
      throw std::runtime_error("cannot make the Wine prefix " + folder);
    }
  }
  return folder;
}

Folder::Folder(const Build& build, Drive drive) {
  std::string pattern;
  std::string unix_root;
  if (drive == Drive::kC) {
    unix_root = PrefixFolder(build) + "/drive_c";
    pattern = unix_root + "/trenzik-test-XXXXXX";
  } else {
    PrefixFolder(build);
    pattern = (std::filesystem::temp_directory_path() / "trenzik-test-XXXXXX").string();
  }
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  unix_path_ = pattern;
  if (drive == Drive::kC) {
    dos_path_ = "C:" + BackslashesFor(unix_path_.substr(unix_root.size()));
  } else {
    // Z: is the Unix root in every prefix.
    dos_path_ = "Z:" + BackslashesFor(unix_path_);
  }
}

Folder::~Folder() {
  std::error_code ignored;
  std::filesystem::remove_all(unix_path_, ignored);
}

std::string Folder::Unix(const std::string& relative) const {
  return relative.empty() ? unix_path_ : unix_path_ + "/" + relative;
}

std::string Folder::Dos(const std::string& relative) const {
  return relative.empty() ? dos_path_ : dos_path_ + "\\" + BackslashesFor(relative);
}

void PlaceProgram(const Build& build, const std::string& program, const std::string& unix_path) {
  std::filesystem::create_directories(std::filesystem::path(unix_path).parent_path());
  std::filesystem::copy_file(std::string(build.program_dir) + "/" + program, unix_path,
                             std::filesystem::copy_options::overwrite_existing);
}

bool LocaleInstalled(const char* locale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const bool installed = std::setlocale(LC_ALL, locale) != nullptr;
  std::setlocale(LC_ALL, before.c_str());
  return installed;
}

harness::RunOutcome Run(const Build& build, const Start& start) {
  PrefixFolder(build);
  harness::ProgramRun run;
  // Wine takes the ANSI code page of each process from its locale; the
  // harness gives a run no locale but its own.
  run.locale = {"LC_ALL=" + start.locale};
  run.executable = TRENZIK_WINE_RUN;
  run.words = {TRENZIK_WINE_RUN};
  if (start.console) run.words.push_back("--console");
  run.words.push_back(build.prefix);
  run.words.push_back(start.program);
  run.words.insert(run.words.end(), start.arguments.begin(), start.arguments.end());
  run.working_directory = start.working_directory;
  run.terminal = start.console;
  run.steps = start.steps;
  run.timeout_seconds = start.timeout_seconds;
  run.key_wait_mode = kConsoleKeyWait;
  return harness::Run(run);
}

Start Plainly(const std::string& program, std::vector<std::string> arguments,
              const std::string& working_directory, const std::string& locale) {
  Start start;
  start.program = program;
  start.arguments = std::move(arguments);
  start.working_directory = working_directory;
  start.locale = locale;
  return start;
}

void PrintTo(Program program, std::ostream* os) {
  *os << (program == Program::kSplitter ? "Trenzik" : "Morvel");
}

QuestionScene PrepareQuestion(const Build& build, const Folder& folder, Program program,
                              unsigned seed) {
  namespace splitter = expected::splitter;
  namespace joiner = expected::joiner;
  QuestionScene scene;
  harness::MakeFolder(folder.Unix("data"));
  scene.working_directory = folder.Unix("data");
  scene.source = harness::RandomBytes(600, seed);
  if (program == Program::kSplitter) {
    PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
    harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=512\r\n");
    harness::WriteFile(folder.Unix("data/abc.zip"), scene.source);
    scene.existing = folder.Unix("tools/abc.zip.1");
    scene.program = folder.Dos("tools/Trenzik.exe");
    scene.arguments = {folder.Dos("data/abc.zip")};
    scene.before_question = expected::kSplitterBanner + splitter::IniRead(512) +
                            splitter::kMeasured + " '" + folder.Dos("tools/abc.zip.1") +
                            "' already exists.\n" + splitter::kQuestion;
    scene.accepted_rest = " Overwriting all existing files.\n\n" +
                          splitter::SplitWritten("abc.zip", folder.Dos("tools") + "\\", 2);
  } else {
    PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
    const std::string whole = expected::SegmentHeader(2, "abc.zip") + scene.source;
    harness::WriteFile(folder.Unix("data/abc.zip.1"), whole.substr(0, 512));
    harness::WriteFile(folder.Unix("data/abc.zip.2"), whole.substr(512));
    scene.existing = folder.Unix("data/abc.zip");
    scene.program = folder.Dos("tools/Morvel.exe");
    scene.arguments = {folder.Dos("data/abc.zip.1")};
    scene.before_question = expected::kJoinerBanner + " '" + folder.Dos("data/abc.zip") +
                            "' already exists.\n" + joiner::kQuestion;
    scene.accepted_rest = "\n Overwriting existing file.\n" +
                          joiner::Joined("abc.zip", "abc.zip", folder.Dos("data") + "\\", 2);
  }
  harness::WriteFile(scene.existing, "old contents");
  return scene;
}

}  // namespace wine
