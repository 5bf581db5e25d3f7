// The splitter run as a whole: every byte it prints, the segment files it
// leaves behind and its exit status. The program is linked into a fresh
// folder's bin/ so that its program directory (word 0 as typed) is known;
// the input lies in data/, which is also the current folder unless a case
// says otherwise. Without a terminal every key wait returns at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bench.h"
#include "expected_text.h"

namespace {

using harness::Bench;
using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;
using namespace expected::splitter;

// ---------------------------------------------------------------------------
// What the splitter prints, written out from its message formats (those the
// Windows tests share are in expected_text.h).

const std::string kUsage =
    "  ERROR: You must specify filename.\n"
    "\n"
    "  To use from Windows: \n"
    "    Drag&drop the file you want to segment on 'Trenzik.exe'\n"
    "    Segment size is read from 'Trenzik.ini'.\n"
    "  \n"
    "  To use from DOS prompt: \n"
    "    Trenzik [filename] [segment size]\n"
    "    You may omit [segment size] in which case, [segment size]\n"
    "    is read from 'Trenzik.ini' file (Use 1440000 for 1.44M,\n"
    "    720000 for 720K)\n"
    "  \n"
    "    Example: Trenzik abc.zip 720000\n"
    "  \n";

const std::string kInvalidSize =
    " [segment size] is too small, too large, or invalid. \n"
    " Valid [segment size] is a number between 512 and 2000000000(2GB)\n"
    " [segment size] is set to: 1440000\n";

const std::string kIniError =
    "\n ERROR: There is an error in 'Trenzik.ini'..\n"
    " Program aborted. \n";

const std::string kRefused =
    " Calculating file size.... Done!\n"
    "\n File size is smaller than or equals to [segment size]. \n"
    " File will not be segmented.\n";

const std::string kPathTooLong = "\nERROR:\n  The path is too long.\n";

// --help and --version: standard output only, with no banner and no prompt.
const std::string kHelp =
    "Usage: Trenzik FILE [SEGMENT-SIZE]\n"
    "       Trenzik --help | -h | --version\n"
    "Cuts FILE into a segment set FILE.1, FILE.2, ... of at most SEGMENT-SIZE\n"
    "bytes each, for removable media; Morvel checks a set and binds it back.\n"
    "\n"
    "  The set goes into the program's own folder, the folder part of its path\n"
    "  as typed, not next to FILE. Started by its bare name (Trenzik abc.zip)\n"
    "  it writes into the current folder.\n"
    "  Without SEGMENT-SIZE the size comes from Trenzik.ini in that same folder\n"
    "  (for a bare name: /Trenzik.ini, on Windows \\Trenzik.ini, in the root\n"
    "  folder), else it is 1440000.\n"
    "  Sizes are plain bytes from 512 to 2000000000; a suffix is not read, so\n"
    "  700M is 700 bytes. 1440000 fits a 1.44M diskette, 720000 a 720K one.\n"
    "  Each run asks before it replaces a set and waits for a key at its end.\n"
    "  In a script, run it without a terminal: the question then counts as\n"
    "  refused and every wait ends at once, for example\n"
    "    setsid -w Trenzik abc.zip 720000 </dev/null\n"
    "  Exit status: 0 when the whole set is written, 1 after a failure.\n"
    "\n"
    "The manual: man Trenzik (on Windows, Trenzik.txt beside the program).\n";
const std::string kVersion =
    "Trenzik 1.0\n"
    "Copyright (C) the Trenzik and Morvel authors. MIT licence: no warranty.\n";

std::string SizeSet(const std::string& number) {
  return " [segment size] is set to: " + number + "\n\n";
}

// A successful run from the measuring on; `question` is what the overwrite
// question adds between the measuring and the header.
std::string SplitBody(const std::string& name, const std::string& folder, int count,
                      const std::string& question = "") {
  return kMeasured + question + SplitWritten(name, folder, count);
}

// ---------------------------------------------------------------------------
// Runs and the files they leave.

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string SegmentPath(const std::string& folder, const std::string& name, int k) {
  return folder + name + "." + std::to_string(k);
}

// Segments 1 .. sizes.size() of the set in `folder`: each of the given size,
// the first opening with the header for `count` segments and `name`, their
// data together the start of `source`.
// A run that failed leaves segment 1 with its signature zeroed.
void ExpectSegments(const std::string& folder, const std::string& name, const std::string& source,
                    int count, const std::vector<std::size_t>& sizes,
                    const std::string& signature = "tavex") {
  std::string data;
  for (std::size_t k = 1; k <= sizes.size(); ++k) {
    const std::string path = SegmentPath(folder, name, static_cast<int>(k));
    ASSERT_TRUE(harness::Exists(path)) << path;
    std::string bytes = harness::ReadFile(path);
    EXPECT_EQ(bytes.size(), sizes[k - 1]) << path;
    if (k == 1) {
      std::string header = expected::SegmentHeader(count, name);
      header.replace(0, signature.size(), signature);
      ASSERT_GE(bytes.size(), header.size());
      EXPECT_EQ(bytes.substr(0, header.size()), header);
      bytes.erase(0, header.size());
    }
    data += bytes;
  }
  ASSERT_LE(data.size(), source.size());
  EXPECT_TRUE(data == source.substr(0, data.size())) << "segment data differ from the input";
}

// The whole set: exactly these segments, their data the whole input.
void ExpectSet(const std::string& folder, const std::string& name, const std::string& source,
               const std::vector<std::size_t>& sizes) {
  const int count = static_cast<int>(sizes.size());
  ExpectSegments(folder, name, source, count, sizes);
  std::size_t total = 0;
  for (std::size_t size : sizes) total += size;
  EXPECT_EQ(total, source.size() + 10 + name.size());
  EXPECT_FALSE(harness::Exists(SegmentPath(folder, name, count + 1)));
}

// ---------------------------------------------------------------------------

TEST(SplitterStart, WithoutAFileNameShowsTheUsage) {
  Bench bench;
  RunOutcome outcome = harness::Run(bench.Splitter({}));
  EXPECT_EQ(outcome.output, Console(kUsage + expected::kAborted));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(Entries(bench.bin), (std::vector<std::string>{"Morvel", "Trenzik"}));
}

// The lookup of word 1, and the open of the input that follows it; and the
// words that ask for the usage or the version instead, when no file of
// that name is there.
struct LookupCase {
  const char* name;
  std::vector<std::string> words;
  std::string middle;
  int exit_status = 1;
  bool framed = true;  // between the banner and the closing prompt
};

void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.name; }

class SplitterLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(SplitterLookupTest, EndsWithFileNotFound) {
  Bench bench;
  bench.Input(1000);
  harness::MakeFolder(bench.data + "sub");
  RunOutcome outcome = harness::Run(bench.Splitter(GetParam().words));
  EXPECT_EQ(outcome.output, GetParam().framed ? Console(GetParam().middle) : GetParam().middle);
  EXPECT_EQ(outcome.exit_status, GetParam().exit_status);
  EXPECT_EQ(Entries(bench.bin), (std::vector<std::string>{"Morvel", "Trenzik"}));
  EXPECT_EQ(Entries(bench.data), (std::vector<std::string>{"abc.zip", "sub"}));
}

INSTANTIATE_TEST_SUITE_P(
    SplitterInputs, SplitterLookupTest,
    ::testing::Values(
        // No entry: nothing about the size is printed, even with a size word.
        LookupCase{"Missing", {"missing.zip", "720000"}, kNotFound},
        LookupCase{"WildcardMatchingNothing", {"*.rar"}, kNotFound},
        // An entry is found, but it is no file that can be opened.
        LookupCase{"Folder", {"sub"}, kNoIniDefault + kNotFound},
        LookupCase{"WildcardMatchingAFile", {"*.zip"}, kNoIniDefault + kNotFound},
        LookupCase{"Help", {"--help"}, kHelp, 0, false},
        LookupCase{"ShortHelp", {"-h"}, kHelp, 0, false},
        LookupCase{"Version", {"--version"}, kVersion, 0, false},
        // Only as the one word: otherwise it is a file name like any other.
        LookupCase{"HelpBeforeASize", {"--help", "720000"}, kNotFound},
        LookupCase{"HelpInAnotherCase", {"--HELP"}, kNotFound}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

// The start's lines for a given command line and configuration file, then
// the run over a 1000-byte abc.zip with the size they settle.
enum class Ending { kSplit, kRefused, kIniError };

struct StartCase {
  const char* name;
  std::vector<std::string> words;
  std::optional<std::string> ini;  // bin/Trenzik.ini; none: no such file
  std::string start;
  Ending ending;
  std::vector<std::size_t> segments;  // of a split
};

void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }

class SplitterStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(SplitterStartTest, SettlesTheSegmentSize) {
  const StartCase& c = GetParam();
  Bench bench;
  const std::string source = bench.Input(1000);
  if (c.ini) harness::WriteFile(bench.bin + "Trenzik.ini", *c.ini);
  RunOutcome outcome = harness::Run(bench.Splitter(c.words));
  switch (c.ending) {
    case Ending::kSplit:
      EXPECT_EQ(outcome.output,
                Console(c.start + SplitBody("abc.zip", bench.bin,
                                             static_cast<int>(c.segments.size()))));
      EXPECT_EQ(outcome.exit_status, 0);
      ExpectSet(bench.bin, "abc.zip", source, c.segments);
      break;
    case Ending::kRefused:
      EXPECT_EQ(outcome.output, Console(c.start + kRefused));
      EXPECT_EQ(outcome.exit_status, 1);
      EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip.1"));
      break;
    case Ending::kIniError:
      EXPECT_EQ(outcome.output, Console(c.start + kIniError));
      EXPECT_EQ(outcome.exit_status, 1);
      EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip.1"));
      break;
  }
}

std::string StartCaseName(const ::testing::TestParamInfo<StartCase>& info) {
  return info.param.name;
}

const std::vector<std::size_t> k512{512, 505};
const std::vector<std::size_t> k600{600, 417};

INSTANTIATE_TEST_SUITE_P(
    SplitterCommandLine, SplitterStartTest,
    ::testing::Values(
        StartCase{"NoSizeWord", {"abc.zip"}, {}, kNoIniDefault, Ending::kRefused, {}},
        StartCase{"Valid720000",
                  {"abc.zip", "720000"},
                  {},
                  SizeFromCommandLine("720000"),
                  Ending::kRefused,
                  {}},
        // Typed at a prompt with no configuration file.
        StartCase{"Invalid100",
                  {"abc.zip", "100"},
                  {},
                  " [segment size] is too small, too large, or invalid. \n"
                  " Valid [segment size] is a number between 512 and 2000000000(2GB)\n"
                  " [segment size] is set to: 1440000\n"
                  "\n"
                  " 'Trenzik.ini' file not found..\n"
                  " [segment size] is set to default: 1440000\n"
                  "\n",
                  Ending::kRefused,
                  {}},
        StartCase{"TenBytes", {"abc.zip", "0000000512"}, {},
                  SizeFromCommandLine("512"), Ending::kSplit, k512},
        StartCase{"ElevenBytes", {"abc.zip", "00000000512"}, {}, kInvalidSize + kNoIniDefault,
                  Ending::kRefused, {}},
        // Leading blanks count towards the ten bytes.
        StartCase{"BlanksWithinTenBytes", {"abc.zip", "  00000512"}, {},
                  SizeFromCommandLine("512"), Ending::kSplit, k512},
        StartCase{"BlanksBeyondTenBytes", {"abc.zip", "   00000512"}, {},
                  kInvalidSize + kNoIniDefault, Ending::kRefused, {}},
        StartCase{"BelowMinimum", {"abc.zip", "511"}, {}, kInvalidSize + kNoIniDefault,
                  Ending::kRefused, {}},
        StartCase{"Maximum", {"abc.zip", "2000000000"}, {},
                  SizeFromCommandLine("2000000000"), Ending::kRefused, {}},
        StartCase{"AboveMaximum", {"abc.zip", "2000000001"}, {}, kInvalidSize + kNoIniDefault,
                  Ending::kRefused, {}},
        // 2^32 + 512: out of range, not 512 after a wrap.
        StartCase{"WrapsTo512", {"abc.zip", "4294967808"}, {}, kInvalidSize + kNoIniDefault,
                  Ending::kRefused, {}},
        StartCase{"Negative", {"abc.zip", "-512"}, {}, kInvalidSize + kNoIniDefault,
                  Ending::kRefused, {}},
        StartCase{"TrailingLetters", {"abc.zip", "720000KB"}, {},
                  SizeFromCommandLine("720000"), Ending::kRefused, {}},
        StartCase{"FourthWordLeavesTheSizeAlone", {"abc.zip", "512", "extra"}, {}, kNoIniDefault,
                  Ending::kRefused, {}},
        StartCase{"IniAbsentWhileTheCommandLineSetTheSize", {"abc.zip", "600"}, {},
                  SizeFromCommandLine("600"), Ending::kSplit, k600}),
    StartCaseName);

const std::string kLongComment = ";" + std::string(254, 'x');  // one whole 255-byte piece

INSTANTIATE_TEST_SUITE_P(
    SplitterConfigurationFile, SplitterStartTest,
    ::testing::Values(
        StartCase{"TypicalFromFile", {"abc.zip"}, "size=720000\n",
                  " Reading values from 'Trenzik.ini'.\n"
                  "  [segment size] is set to: 720000\n"
                  " Finished reading from 'Trenzik.ini' file.\n"
                  " \n",
                  Ending::kRefused, {}},
        StartCase{"Empty", {"abc.zip"}, "", kReading + kFinished, Ending::kRefused, {}},
        // An empty line and a blank line in CR LF form are still empty.
        StartCase{"CrLfLineEnds", {"abc.zip"}, "; sizes\r\n\r\nsize=512\r\n  \r\n",
                  kReading + SizeFromFile("512") + kFinished, Ending::kSplit, k512},
        StartCase{"LoneCrIsAByteOfTheLine", {"abc.zip"}, "size=512\n\rsize=600\n",
                  kReading + SizeFromFile("512"), Ending::kIniError, {}},
        StartCase{"LongCommentSecondPieceIsAnError", {"abc.zip"},
                  kLongComment + std::string(45, 'x') + "\nsize=512\n", kReading,
                  Ending::kIniError, {}},
        StartCase{"LongCommentSecondPieceIsAComment", {"abc.zip"},
                  kLongComment + "   ; more\nsize=512\n",
                  kReading + SizeFromFile("512") + kFinished, Ending::kSplit, k512},
        StartCase{"LongCommentSecondPieceIsAnEntry", {"abc.zip"}, kLongComment + "size=600\n",
                  kReading + SizeFromFile("600") + kFinished, Ending::kSplit, k600},
        StartCase{"ErrorAfterValidLines", {"abc.zip"},
                  "size=600\n; fine\nsize=512\nwidth=720000\nsize=700\n",
                  kReading + SizeFromFile("600") + SizeFromFile("512"), Ending::kIniError, {}},
        StartCase{"EndOfFileByte", {"abc.zip"}, "size=512\n\x1awidth=1\n",
                  kReading + SizeFromFile("512") + kFinished, Ending::kSplit, k512},
        StartCase{"ValidEntryEndsTheLine", {"abc.zip"}, "size=512 more words\n",
                  kReading + SizeFromFile("512") + kFinished, Ending::kSplit, k512},
        StartCase{"InvalidThenValidOnOneLine", {"abc.zip"}, "size=100 size=512\n",
                  kReading + kInvalidSize + SizeFromFile("512") + kFinished, Ending::kSplit,
                  k512},
        StartCase{"InvalidEntryPutsTheDefaultBack", {"abc.zip"}, "size=512\nsize=100\n",
                  kReading + SizeFromFile("512") + kInvalidSize + kFinished, Ending::kRefused,
                  {}},
        StartCase{"InvalidWordThenTheFileDecides", {"abc.zip", "100"}, "size=512\n",
                  kInvalidSize + kReading + SizeFromFile("512") + kFinished, Ending::kSplit,
                  k512},
        // The command line fixed the size: entries are read, not applied.
        StartCase{"CommandLineSizeEntriesNotApplied", {"abc.zip", "512"},
                  "size=720000\nsize=5\n  SIZE = 600 ; note\n",
                  SizeSet("512") + kReading + kFinished, Ending::kSplit, k512},
        StartCase{"CommandLineSizeGrammarStillChecked", {"abc.zip", "512"},
                  "size=720000 more words\n", SizeSet("512") + kReading, Ending::kIniError, {}},
        StartCase{"FourthWordLeavesTheSizeToTheFile", {"abc.zip", "720000", "extra"},
                  "size=512\n", kReading + SizeFromFile("512") + kFinished, Ending::kSplit,
                  k512}),
    StartCaseName);

// Sets of known shape, in bin/ while the input lies in data/.
struct SetCase {
  const char* name;
  std::string file;
  std::size_t source_size;
  std::string size_word;               // empty: none, the size is the default
  std::vector<std::size_t> segments;  // empty: the file is refused
};

void PrintTo(const SetCase& c, std::ostream* out) { *out << c.name; }

class SplitterSetTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(SplitterSetTest, WritesTheSetIntoTheProgramFolder) {
  const SetCase& c = GetParam();
  Bench bench;
  const std::string source = bench.Input(c.source_size, 7, c.file);
  std::vector<std::string> words{c.file};
  if (!c.size_word.empty()) words.push_back(c.size_word);
  RunOutcome outcome = harness::Run(bench.Splitter(words));
  const std::string start =
      c.size_word.empty() ? kNoIniDefault : SizeFromCommandLine(c.size_word);
  std::vector<std::string> in_bin{"Morvel", "Trenzik"};
  if (c.segments.empty()) {
    EXPECT_EQ(outcome.output, Console(start + kRefused));
    EXPECT_EQ(outcome.exit_status, 1);
  } else {
    const int count = static_cast<int>(c.segments.size());
    EXPECT_EQ(outcome.output, Console(start + SplitBody(c.file, bench.bin, count)));
    EXPECT_EQ(outcome.exit_status, 0);
    ExpectSet(bench.bin, c.file, source, c.segments);
    for (int k = 1; k <= count; ++k) in_bin.push_back(c.file + "." + std::to_string(k));
  }
  std::sort(in_bin.begin(), in_bin.end());
  EXPECT_EQ(Entries(bench.bin), in_bin);
  EXPECT_EQ(Entries(bench.data), std::vector<std::string>{c.file});
}

INSTANTIATE_TEST_SUITE_P(
    SplitterSets, SplitterSetTest,
    ::testing::Values(
        SetCase{"TwoSegments", "abc.zip", 600, "512", {512, 105}},
        SetCase{"Diskettes", "abc.zip", 1440000, "720000", {720000, 720000, 17}},
        SetCase{"EmptyLastSegment", "a.bin", 1009, "512", {512, 512, 0}},
        SetCase{"OneByteLastSegment", "a.bin", 1010, "512", {512, 512, 1}},
        SetCase{"NumbersPastNine",
                "abc.zip",
                5700,
                "512",
                {512, 512, 512, 512, 512, 512, 512, 512, 512, 512, 512, 85}},
        SetCase{"ExactlyTheSegmentSize", "abc.zip", 512, "512", {}},
        SetCase{"SmallerThanTheSizeButNotWithItsHeader", "abc.zip", 500, "512", {}},
        SetCase{"OneByteMoreThanTheSize", "abc.zip", 513, "512", {512, 18}},
        // Double-byte names: the length counts bytes.
        SetCase{"ShiftJisName", "\x83\x65\x83\x58\x83\x67.dat", 600, "512", {512, 108}},
        SetCase{"Utf8Name", "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.bin", 600, "512", {512, 111}},
        // A file named like the words that ask for the usage or the version
        // is still cut (or refused for its size) when it is the one word.
        SetCase{"FileNamedHelp", "--help", 1440001, "", {1440000, 17}},
        SetCase{"FileNamedVersion", "--version", 1000, "", {}}),
    [](const ::testing::TestParamInfo<SetCase>& info) { return info.param.name; });

TEST(SplitterRun, TypicalRunPrintsItsReport) {
  Bench bench;
  const std::string source = bench.Input(600);
  ProgramRun run = bench.Splitter({bench.data + "abc.zip", "512"});  // dropped: the full path
  run.working_directory = bench.folder.path();
  RunOutcome outcome = harness::Run(run);
  const std::string report =
      " Calculating file size.... Done!\n"
      " writing header.... Done!\n"
      " writing to abc.zip.1.... Done!\n"
      " writing to abc.zip.2.... Done!\n"
      "\n"
      " Successfully segmented!\n"
      "\n"
      " Reult :\n"
      "  Name of the file segmented: abc.zip\n"
      "  Name of the folder segmented files created :\n"
      "    " +
      bench.bin +
      "\n"
      "  Total number of segment files: 2\n"
      "\n"
      " To bind the segmented files, just drag&drop 'abc.zip.1' file on 'Morvel' (Morvel.exe) "
      "program.\n";
  EXPECT_EQ(outcome.output, Console(SizeFromCommandLine("512") + report));
  EXPECT_EQ(outcome.exit_status, 0);
  ExpectSet(bench.bin, "abc.zip", source, {512, 105});
  EXPECT_EQ(Entries(bench.folder.path()), (std::vector<std::string>{"bin", "data", "set"}));
}

// Started by its bare name: the set goes to the current folder and the
// configuration file is looked for in the root folder, not next to it.
TEST(SplitterRun, BareProgramNameWritesIntoTheCurrentFolder) {
  if (harness::Exists("/Trenzik.ini")) GTEST_SKIP() << "/Trenzik.ini exists on this machine";
  Bench bench;
  const std::string source = bench.Input(600);
  harness::LinkProgram(TRENZIK_PROGRAM, bench.data + "Trenzik");
  harness::WriteFile(bench.data + "Trenzik.ini", "width=1\n");  // an error if it were read
  ProgramRun run = bench.Splitter();
  run.executable = bench.data + "Trenzik";
  run.words[0] = "Trenzik";
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("512") + SplitBody("abc.zip", "", 2)));
  EXPECT_EQ(outcome.exit_status, 0);
  ExpectSet(bench.data, "abc.zip", source, {512, 105});
  EXPECT_FALSE(harness::Exists(bench.bin + "abc.zip.1"));
}

// Typed as a pattern that is also a file's own name: the set is named after
// the entry the lookup reports, the data come from the file as typed.
// A typed name that is an entry's own name is that entry, wildcards or not:
// the pattern x* would match x! first in byte order.
TEST(SplitterRun, StoredNameIsTheEntryFound) {
  Bench bench;
  const std::string source = bench.Input(600, 11, "x*");
  bench.Input(40, 12, "x!");
  RunOutcome outcome = harness::Run(bench.Splitter({"x*", "512"}));
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("512") + SplitBody("x*", bench.bin, 2)));
  EXPECT_EQ(outcome.exit_status, 0);
  ExpectSet(bench.bin, "x*", source, {512, 100});
  EXPECT_FALSE(harness::Exists(bench.bin + "x!.1"));
}

// An existing set: stale segments longer than the new ones.
struct StaleSet {
  Bench bench;
  std::string source;
  StaleSet() {
    source = bench.Input(1100);
    harness::WriteFile(bench.bin + "abc.zip.1", "old segment");
    harness::WriteFile(bench.bin + "abc.zip.2", std::string(2000, 'Z'));
    harness::WriteFile(bench.bin + "abc.zip.3", std::string(3000, 'Q'));
  }
  std::string Question() const { return Asked(bench.bin + "abc.zip.1"); }
};

TEST(SplitterOverwrite, YesRewritesEverySegmentWithoutAskingAgain) {
  StaleSet stale;
  RunOutcome outcome = harness::Run(harness::Answering(stale.bench.Splitter()));
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("512") +
                     SplitBody("abc.zip", stale.bench.bin, 3,
                               stale.Question() + kAccepted)));
  EXPECT_EQ(outcome.exit_status, 0);
  ExpectSet(stale.bench.bin, "abc.zip", stale.source, {512, 512, 93});
}

TEST(SplitterOverwrite, WithoutAConsoleNothingIsChanged) {
  StaleSet stale;
  RunOutcome outcome = harness::Run(stale.bench.Splitter());
  EXPECT_EQ(outcome.output, Console(SizeFromCommandLine("512") +
                                     kMeasured + stale.Question() +
                                     "\xff\n\n" + expected::kAborted));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(harness::ReadFile(stale.bench.bin + "abc.zip.1"), "old segment");
  EXPECT_EQ(harness::ReadFile(stale.bench.bin + "abc.zip.2"), std::string(2000, 'Z'));
  EXPECT_EQ(harness::ReadFile(stale.bench.bin + "abc.zip.3"), std::string(3000, 'Q'));
}

// A segment that cannot be created or written: the run stops there and the
// segments completed before it stay. The set would be 512, 512, 93 bytes.
struct OutputFailure {
  const char* name;
  std::function<void(const Bench&, ProgramRun&)> arrange;
  std::string tail;  // after the measuring line; {bin} stands for bin/
  std::size_t complete;
};

void PrintTo(const OutputFailure& c, std::ostream* out) { *out << c.name; }

class SplitterOutputFailureTest : public ::testing::TestWithParam<OutputFailure> {};

TEST_P(SplitterOutputFailureTest, StopsAndKeepsEarlierSegments) {
  Bench bench;
  const std::string source = bench.Input(1100);
  ProgramRun run = bench.Splitter();
  GetParam().arrange(bench, run);
  RunOutcome outcome = harness::Run(run);
  std::string tail = GetParam().tail;
  if (std::size_t at = tail.find("{bin}"); at != std::string::npos) {
    tail.replace(at, 5, bench.bin);
  }
  EXPECT_EQ(outcome.output, Console(SizeFromCommandLine("512") +
                                     kMeasured + tail));
  EXPECT_EQ(outcome.exit_status, 1);
  const std::vector<std::size_t> full{512, 512, 93};
  ExpectSegments(bench.bin, "abc.zip", source, 3,
                 std::vector<std::size_t>(full.begin(), full.begin() + GetParam().complete),
                 std::string(5, '\0'));
  EXPECT_EQ(outcome.signal, 0);
}

INSTANTIATE_TEST_SUITE_P(
    SplitterFailures, SplitterOutputFailureTest,
    ::testing::Values(
        OutputFailure{"LimitHitInTheHeader",
                      [](const Bench&, ProgramRun& run) { run.file_size_limit = 5; },
                      " writing header....\nERROR:\n  cannot write file '{bin}abc.zip.1'\n", 0},
        OutputFailure{"LimitHitInTheFirstSegment",
                      [](const Bench&, ProgramRun& run) { run.file_size_limit = 300; },
                      " writing header.... Done!\n writing to abc.zip.1....\n"
                      "ERROR:\n  cannot write file '{bin}abc.zip.1'\n",
                      0},
        OutputFailure{"FirstSegmentCannotBeCreated",
                      [](const Bench& b, ProgramRun&) { harness::MakeFolder(b.bin + "abc.zip.1"); },
                      "\nERROR:\n  cannot create file\n", 0},
        // Started by a path whose folder has gone: nowhere to write the set.
        OutputFailure{"ProgramFolderMissing",
                      [](const Bench& b, ProgramRun& run) {
                        run.words[0] = b.folder / "gone/Trenzik";
                      },
                      "\nERROR:\n  cannot create file\n", 0},
        OutputFailure{"LaterSegmentCannotBeCreated",
                      [](const Bench& b, ProgramRun&) { harness::MakeFolder(b.bin + "abc.zip.3"); },
                      " writing header.... Done!\n writing to abc.zip.1.... Done!\n"
                      " writing to abc.zip.2.... Done!\nERROR:\n cannot create file\n",
                      2}),
    [](const ::testing::TestParamInfo<OutputFailure>& info) { return info.param.name; });

// Words that do not fit a 512-byte work buffer are refused before any file
// is touched: the file name (word 1), or the program's path (word 0).
enum class LongWord { kFileName, kProgramPath };

class SplitterLongWordTest : public ::testing::TestWithParam<LongWord> {};

TEST_P(SplitterLongWordTest, IsRefused) {
  Bench bench;
  bench.Input(1000);
  ProgramRun run = bench.Splitter({std::string(600, 'a'), "512"});
  if (GetParam() == LongWord::kProgramPath) {
    const std::string deep = bench.folder / (std::string(200, 'd') + "/" +
                                             std::string(200, 'e') + "/" + std::string(200, 'f'));
    harness::LinkProgram(TRENZIK_PROGRAM, deep + "/Trenzik");
    run.executable = deep + "/Trenzik";
    run.words = {deep + "/Trenzik", "abc.zip"};
  }
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.output, Console(kPathTooLong));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(Entries(bench.bin), (std::vector<std::string>{"Morvel", "Trenzik"}));
  EXPECT_EQ(Entries(bench.data), std::vector<std::string>{"abc.zip"});
}

INSTANTIATE_TEST_SUITE_P(SplitterWords, SplitterLongWordTest,
                         ::testing::Values(LongWord::kFileName, LongWord::kProgramPath),
                         [](const ::testing::TestParamInfo<LongWord>& info) {
                           return info.param == LongWord::kFileName ? "FileName" : "ProgramPath";
                         });

// An input the lookup finds but nobody may read, root included: a sysfs
// attribute that is write-only. Reported like a missing file, nothing made.
TEST(SplitterInput, UnreadableInputIsNotFound) {
  const std::string write_only = "/sys/bus/pci/rescan";
  if (!harness::Exists(write_only)) GTEST_SKIP() << write_only << " is not on this machine";
  Bench bench;
  std::filesystem::create_symlink(write_only, bench.data + "abc.zip");
  RunOutcome outcome = harness::Run(bench.Splitter({"abc.zip", "512"}));
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("512") + kNotFound));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(Entries(bench.bin), (std::vector<std::string>{"Morvel", "Trenzik"}));
}

// The input changes while the question waits, after it was measured: the
// set would no longer agree with the count in its header, so the run stops.
struct ChangedInput {
  const char* name;
  std::size_t new_size;
  int reached;  // the segment the run is writing when it notices
};

void PrintTo(const ChangedInput& c, std::ostream* out) { *out << c.name; }

class SplitterChangedInputTest : public ::testing::TestWithParam<ChangedInput> {};

TEST_P(SplitterChangedInputTest, StopsInsteadOfWritingAWrongSet) {
  StaleSet stale;
  const std::string input = stale.bench.data + "abc.zip";
  const std::size_t new_size = GetParam().new_size;
  ProgramRun run = harness::Answering(stale.bench.Splitter());
  run.steps[0].action = [input, new_size](pid_t) { std::filesystem::resize_file(input, new_size); };
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.output,
            Console(SizeFromCommandLine("512") + kMeasured +
                     stale.Question() + kAccepted + Writing("abc.zip", GetParam().reached) +
                     Error("The file changed while it was being segmented.")));
  EXPECT_EQ(outcome.exit_status, 1);
}

// 1100 bytes measured: 17 + 495, 512, 93.
INSTANTIATE_TEST_SUITE_P(
    SplitterChanged, SplitterChangedInputTest,
    ::testing::Values(ChangedInput{"Grown", 1200, 3}, ChangedInput{"Shrunk", 700, 2}),
    [](const ::testing::TestParamInfo<ChangedInput>& info) { return info.param.name; });

}  // namespace
