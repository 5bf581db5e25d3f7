// The joiner run as a user meets it: the set check, the joining run and every
// ending, compared with the console text byte for byte, and the bound file
// compared with the source.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bench.h"
#include "expected_text.h"

namespace {

using expected::SegmentHeader;
using harness::Bench;
using harness::ProgramRun;
using harness::RunOutcome;
using harness::Step;
using testkit::Pieces;
using testkit::PiecesForSizes;
using testkit::SetSizes;
using testkit::Tree;
using testkit::WriteSet;
using namespace expected::joiner;

// The pieces of a set the format allows (testkit::SetSizes) for abc.zip.
std::vector<std::string> SetPieces(std::size_t count, std::size_t segment_size,
                                   std::size_t last_size, unsigned seed) {
  return PiecesForSizes(SetSizes(count, segment_size, last_size), "abc.zip", seed);
}

std::string Joined(const std::vector<std::string>& pieces, std::size_t count) {
  std::string all;
  for (std::size_t k = 0; k < count; ++k) all += pieces[k];
  return all;
}

// The start: no argument, a file that is not there, and the words that ask
// for the usage or the version instead (standard output only: no banner,
// no prompt, status 0) when no file of that name is there.
struct StartCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string output;
  int exit_status;
};

class JoinerStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(JoinerStartTest, PrintsItsTextAndCreatesNothing) {
  Bench bench;
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner(GetParam().arguments));
  EXPECT_EQ(outcome.exit_status, GetParam().exit_status);
  EXPECT_EQ(outcome.output, GetParam().output);
  EXPECT_EQ(bench.Tree(), before);
}

// The ideographic space before "File not found." is written as the
// locale's codeset spells it: U+3000 in UTF-8, else the Shift_JIS bytes.
struct NotFoundLocale {
  const char* name;
  std::vector<std::string> locale;
  bool utf8;
};

class JoinerNotFound : public ::testing::TestWithParam<NotFoundLocale> {};

TEST_P(JoinerNotFound, SpellsTheSpaceAsTheLocaleDoes) {
  Bench bench;
  ProgramRun run = bench.Joiner();
  run.locale = GetParam().locale;
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            Console((GetParam().utf8 ? kNotFoundUtf8 : kNotFound) + expected::kAborted));
}
const std::string kHelp =
    "Usage: Morvel FILE.1\n"
    "       Morvel --help | -h | --version\n"
    "Checks that the segment set of which FILE.1 is the first segment is\n"
    "complete and binds it back into the file that Trenzik cut.\n"
    "\n"
    "  Every segment of the set must lie in the folder of FILE.1; the bound\n"
    "  file is written into that folder, under the name the set stores.\n"
    "  Morvel has no settings: Trenzik.ini and segment sizes are Trenzik's.\n"
    "  The check sees missing segments and wrong sizes, not changed bytes:\n"
    "  compare a checksum of the file and of the copy (sha256sum).\n"
    "  Each run asks before it replaces a file and waits for a key at its end.\n"
    "  In a script, run it without a terminal: the question then counts as\n"
    "  refused and every wait ends at once, for example\n"
    "    setsid -w Morvel abc.zip.1 </dev/null\n"
    "  Exit status: 0 when the file is bound, 1 after a failure.\n"
    "\n"
    "The manual: man Morvel (on Windows, Morvel.txt beside the program).\n";

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerStartTest,
    ::testing::Values(
        StartCase{"WithoutAnArgument", {},
                  Console("  ERROR: You must specify filename. \n "
                          "     \n"
                          "   Before binding, you must put all segmented files in the same folder.\n"
                          "     \n"
                          "  To use from Windows: \n"
                          "    Drag&drop the first segmented file ('*.1' file) to 'Morvel.exe'\n"
                          "  \n"
                          "  To use from DOS prompt: \n"
                          "    Morvel [filename of the first segmented file]\n"
                          "  Example: \n"
                          "    Morvel abc.zip.1\n\n" +
                          expected::kAborted),
                  1},
        StartCase{"FileNotThere", {"set/abc.zip.1"}, Console(kNotFound + expected::kAborted), 1},
        StartCase{"Help", {"--help"}, kHelp, 0},
        StartCase{"ShortHelp", {"-h"}, kHelp, 0},
        StartCase{"Version", {"--version"},
                  "Morvel 1.0\n"
                  "Copyright (C) the Trenzik and Morvel authors. MIT licence: no warranty.\n",
                  0},
        // Only as the one word: otherwise it is a file name like any other.
        StartCase{"HelpBeforeAnotherWord", {"--help", "x"}, Console(kNotFound + expected::kAborted),
                  1}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerNotFound,
    ::testing::Values(NotFoundLocale{"NoLocale", {}, false},
                      NotFoundLocale{"C", {"LC_ALL=C"}, false},
                      NotFoundLocale{"Posix", {"LANG=POSIX"}, false},
                      NotFoundLocale{"AllUtf8", {"LC_ALL=C.UTF-8"}, true},
                      NotFoundLocale{"LangUtf8", {"LANG=C.UTF-8"}, true},
                      NotFoundLocale{"CtypeUtf8", {"LANG=C", "LC_CTYPE=C.UTF-8"}, true},
                      NotFoundLocale{"CtypeOverLang", {"LANG=C.UTF-8", "LC_CTYPE=C"}, false},
                      NotFoundLocale{"AllOverCtype", {"LC_CTYPE=C.UTF-8", "LC_ALL=C"}, false},
                      // A locale that is not installed: setlocale fails, the C locale stays.
                      NotFoundLocale{"Missing", {"LC_ALL=xx_XX.UTF-8"}, false}),
    [](const ::testing::TestParamInfo<NotFoundLocale>& info) { return info.param.name; });

struct NotFirst {
  const char* name;
  std::string file;  // written with `bytes`, under set/
  std::string bytes;
  std::string argument;
};

class JoinerNotFirstSegment : public ::testing::TestWithParam<NotFirst> {};

TEST_P(JoinerNotFirstSegment, IsRefusedAndNothingIsCreated) {
  Bench bench;
  harness::WriteFile(bench.set + GetParam().file, GetParam().bytes);
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner({GetParam().argument}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(kNotFirst));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerNotFirstSegment,
    ::testing::Values(
        NotFirst{"WrongSignature", "abc.zip.1",
                 "taveX" + SegmentHeader(1, "abc.zip").substr(5) + "data", "set/abc.zip.1"},
        NotFirst{"FourBytes", "abc.zip.1", "tave", "set/abc.zip.1"},
        NotFirst{"Empty", "abc.zip.1", "", "set/abc.zip.1"},
        NotFirst{"EndsInsideTheCount", "abc.zip.1", SegmentHeader(1, "").substr(0, 8),
                 "set/abc.zip.1"},
        NotFirst{"EndsBeforeTheLengthByte", "abc.zip.1", SegmentHeader(1, "").substr(0, 9),
                 "set/abc.zip.1"},
        NotFirst{"EndsInsideTheName", "abc.zip.1", SegmentHeader(1, "abc.zip").substr(0, 13),
                 "set/abc.zip.1"},
        NotFirst{"SegmentOneAbsent", "abc.zip.2", SegmentHeader(2, "abc.zip") + "data",
                 "set/abc.zip.2"},
        // A file named like the help word is looked at as a segment.
        NotFirst{"FileNamedHelp", "../--help", "not a segment", "--help"}),
    [](const ::testing::TestParamInfo<NotFirst>& info) { return info.param.name; });

// Every missing member is listed in order, up to 1000 of them; a count far
// beyond what is there (a damaged header) ends the list there at once.
struct MissingCase {
  const char* name;
  std::int32_t count;
  std::vector<int> present;                 // besides segment 1
  std::vector<std::pair<int, int>> listed;  // ranges of the members listed
  bool cut;                                 // the list ends with the cut line
  bool name_cut = false;  // segment 1 ends inside its name, which is judged after the list
};

class JoinerMissing : public ::testing::TestWithParam<MissingCase> {};

TEST_P(JoinerMissing, ListsThemInOrderAndCreatesNothing) {
  const MissingCase& c = GetParam();
  Bench bench;
  const std::string first = SegmentHeader(c.count, "abc.zip") + "data";
  harness::WriteFile(bench.set + "abc.zip.1", c.name_cut ? first.substr(0, 13) : first);
  for (int k : c.present) {
    harness::WriteFile(bench.set + "abc.zip." + std::to_string(k), "data");
  }
  const auto before = bench.Tree();
  const auto start = std::chrono::steady_clock::now();
  RunOutcome outcome = harness::Run(bench.Joiner());
  const auto took = std::chrono::steady_clock::now() - start;
  std::string listed;
  for (const auto& [from, to] : c.listed) {
    for (int k = from; k <= to; ++k) {
      listed += MissingLine("abc.zip." + std::to_string(k));
    }
  }
  if (c.cut) {
    listed += "\n ERROR :  The list stops here. Segment 1 claims " + std::to_string(c.count) +
              " segments.";
  }
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(MissingListed(listed)));
  EXPECT_EQ(bench.Tree(), before);
  EXPECT_LT(took, std::chrono::seconds(1));
}

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerMissing,
    ::testing::Values(MissingCase{"TwoGaps", 4, {3}, {{2, 2}, {4, 4}}, false},
                      MissingCase{"AsManyAsAreListed", 1001, {}, {{2, 1001}}, false},
                      MissingCase{"OneMoreThanAreListed", 1002, {}, {{2, 1001}}, true},
                      MissingCase{"PresentOnesDoNotCount", 1500, {500}, {{2, 499}, {501, 1002}},
                                  true},
                      MissingCase{"LargestCount", 2147483647, {}, {{2, 1001}}, true},
                      MissingCase{"BeforeANameCutShort", 4, {3}, {{2, 2}, {4, 4}}, false, true}),
    [](const ::testing::TestParamInfo<MissingCase>& info) { return info.param.name; });

// Segment k's name less its last byte is the set base path for k = 1 .. 9
// only: abc.zip.10 leads to abc.zip.1 + "1", which is data, not a header.
class JoinerNamedSegment : public ::testing::TestWithParam<int> {};

TEST_P(JoinerNamedSegment, BindsFromSegmentOneOnlyForNumbersBelowTen) {
  Bench bench;
  const auto pieces = SetPieces(12, 40, 25, 100);
  WriteSet(bench.set + "abc.zip.", 12, "abc.zip", pieces);
  const int k = GetParam();
  RunOutcome outcome = harness::Run(bench.Joiner({"set/abc.zip." + std::to_string(k)}));
  if (k <= 9) {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, Console(BoundAll("abc.zip.", 12) + Summary("abc.zip", "set/", 12)));
    EXPECT_EQ(harness::ReadFile(bench.set + "abc.zip"), Joined(pieces, 12));
  } else {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output, Console(kNotFirst));
    EXPECT_FALSE(harness::Exists(bench.set + "abc.zip"));
  }
}

INSTANTIATE_TEST_SUITE_P(Joiner, JoinerNamedSegment, ::testing::Values(1, 2, 5, 9, 10, 12),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Segment" + std::to_string(info.param);
                         });

// Sets that bind: how the argument leads to segment 1, what its count and
// stored name say. The segments are named `base`.1 ...; set/notes.txt
// beside them is no segment and changes nothing.
struct BindCase {
  const char* name;
  std::string base;
  std::int32_t count;  // in the header
  std::string stored;
  std::vector<std::string> pieces;  // one a segment file
  std::string argument;
  int bound;                         // the segments bound
  bool from_the_set_folder = false;  // started in set/ instead of the top folder
};

void PrintTo(const BindCase& c, std::ostream* out) { *out << c.name; }

class JoinerBindTest : public ::testing::TestWithParam<BindCase> {};

TEST_P(JoinerBindTest, BindsTheSegmentsTheHeaderCounts) {
  const BindCase& c = GetParam();
  Bench bench;
  WriteSet(bench.set + c.base + ".", c.count, c.stored, c.pieces);
  harness::WriteFile(bench.set + "notes.txt", "not a segment");
  ProgramRun run = bench.Joiner({c.argument});
  if (c.from_the_set_folder) run.working_directory = bench.set;
  RunOutcome outcome = harness::Run(run);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output,
            Console(BoundAll(c.base + ".", c.bound) +
                    Summary(c.stored, c.from_the_set_folder ? "" : "set/", c.bound)));
  EXPECT_EQ(harness::ReadFile(bench.set + c.stored),
            Joined(c.pieces, static_cast<std::size_t>(c.bound)));
}

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerBindTest,
    ::testing::Values(
        BindCase{"AWildcardLeadsToSegmentOne", "abc.zip", 2, "abc.zip", Pieces(2, 300, 7),
                 "set/*.1", 2},
        BindCase{"AnArgumentWithoutAFolderUsesTheCurrentFolder", "abc.zip", 3, "abc.zip",
                 SetPieces(3, 200, 90, 9), "abc.zip.1", 3, true},
        BindCase{"AnEmptyLastSegmentIsBoundAndCounted", "abc.zip", 3, "abc.zip",
                 SetPieces(3, 150, 0, 13), "set/abc.zip.1", 3},
        BindCase{"AFileNumberedBeyondTheCountIsIgnored", "abc.zip", 2, "abc.zip",
                 Pieces(3, 150, 17), "set/abc.zip.1", 2},
        // A count below one binds the data of segment 1 alone.
        BindCase{"CountZero", "abc.zip", 0, "abc.zip", Pieces(2, 64, 11), "set/abc.zip.1", 1},
        BindCase{"CountMinus1", "abc.zip", -1, "abc.zip", Pieces(2, 64, 11), "set/abc.zip.1", 1},
        BindCase{"CountMinus2147483648", "abc.zip", std::numeric_limits<std::int32_t>::min(),
                 "abc.zip", Pieces(2, 64, 11), "set/abc.zip.1", 1},
        // Segment names carry no meaning beyond their numbers: the output is
        // named from the header, up to the full 255 bytes, whose data starts
        // at 10 + L.
        BindCase{"RenamedSetShortName", "x", 2, "abc.zip", Pieces(2, 500, 19), "set/x.1", 2},
        BindCase{"RenamedSetHighBytes", "x", 2, "\x83\x5c\x83\x74\x83\x67.txt", Pieces(2, 500, 19),
                 "set/x.1", 2},
        BindCase{"RenamedSetLongestName", "x", 2, std::string(251, 'n') + ".bin",
                 Pieces(2, 500, 19), "set/x.1", 2}),
    [](const ::testing::TestParamInfo<BindCase>& info) { return info.param.name; });

TEST(JoinerRun, AnEmptyStoredNameCannotBeCreated) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 2, "", Pieces(2, 100, 23));
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(Failure("cannot create file")));
  EXPECT_EQ(bench.Tree(), before);
}

// A set whose output already exists, so that the run asks before creating it.
struct ExistingOutput {
  Bench bench;
  std::vector<std::string> pieces = SetPieces(3, 700, 400, 29);
  ExistingOutput() {
    WriteSet(bench.set + "abc.zip.", 3, "abc.zip", pieces);
    harness::WriteFile(bench.set + "abc.zip", "old contents");
  }
  std::string Asked(const std::string& echo) const {
    return expected::joiner::Asked("set/abc.zip", echo);
  }
};

// The key typed at the question; no terminal at all counts as a refusal
// (its code -1 echoed as 0xFF), without a look at standard input.
struct OverwriteCase {
  const char* name;
  std::string key;  // empty: no terminal
  bool replaced;
};

class JoinerOverwriteTest : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(JoinerOverwriteTest, ReplacesTheOutputOnlyAfterYes) {
  const OverwriteCase& c = GetParam();
  ExistingOutput setup;
  ProgramRun run = setup.bench.Joiner();
  if (!c.key.empty()) run = harness::Answering(run, c.key);
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_TRUE(outcome.stdin_untouched);
  const std::string asked = setup.Asked(c.key.empty() ? "\xff" : c.key);
  if (c.replaced) {
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, Console(asked + kOverwriting + BoundAll("abc.zip.", 3) +
                                      Summary("abc.zip", "set/", 3)));
    EXPECT_EQ(harness::ReadFile(setup.bench.set + "abc.zip"), Joined(setup.pieces, 3));
  } else {
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output, Console(asked + expected::kAborted));
    EXPECT_EQ(harness::ReadFile(setup.bench.set + "abc.zip"), "old contents");
  }
}

INSTANTIATE_TEST_SUITE_P(Joiner, JoinerOverwriteTest,
                         ::testing::Values(OverwriteCase{"Yes", "y", true},
                                           OverwriteCase{"No", "n", false},
                                           OverwriteCase{"WithoutAConsole", "", false}),
                         [](const ::testing::TestParamInfo<OverwriteCase>& info) {
                           return info.param.name;
                         });

struct RoundTrip {
  const char* label;
  std::string name;
  std::size_t size;
  std::int32_t segment_size;
};

class JoinerRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// The splitter cuts data/<name> into bin/<name>.1 .. N; the joiner binds
// them into bin/<name>, which must equal the source.
TEST_P(JoinerRoundTrip, GivesBackTheSourceByteForByte) {
  const RoundTrip& trip = GetParam();
  Bench bench;
  const std::string source = bench.Input(trip.size, static_cast<unsigned>(trip.size), trip.name);
  ASSERT_EQ(
      harness::Run(bench.Splitter({trip.name, std::to_string(trip.segment_size)})).exit_status, 0);

  const std::uint64_t total = trip.name.size() + 10 + trip.size;
  const int count = static_cast<int>(total / static_cast<std::uint64_t>(trip.segment_size) + 1);
  const std::string base = bench.bin + trip.name + ".";
  ASSERT_TRUE(harness::Exists(base + std::to_string(count)));
  ASSERT_FALSE(harness::Exists(base + std::to_string(count + 1)));

  RunOutcome outcome = harness::Run(bench.Joiner({"bin/" + trip.name + ".1"}));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.output,
            Console(BoundAll(trip.name + ".", count) + Summary(trip.name, "bin/", count)));
  EXPECT_TRUE(harness::ReadFile(bench.bin + trip.name) == source);
}

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerRoundTrip,
    ::testing::Values(RoundTrip{"OneByteOver", "abc.zip", 513, 512},
                      RoundTrip{"TwoSegments", "abc.zip", 600, 512},
                      // 17 + 1007 = 2 * 512: empty last
                      RoundTrip{"EmptyLastSegment", "abc.zip", 1007, 512},
                      // 15 + 1009 = 2 * 512: empty last
                      RoundTrip{"EmptyLastSegmentShortName", "a.bin", 1009, 512},
                      RoundTrip{"OneByteLastSegment", "a.bin", 1010, 512},
                      // 18 + 20462 = 40 * 512: 41 segments
                      RoundTrip{"FortyOneSegments", "many.bin", 20462, 512},
                      RoundTrip{"ManySegments", "many.bin", 30000, 512},
                      RoundTrip{"Diskettes", "abc.zip", 1440000, 720000},
                      RoundTrip{"DiskettesExactMultiple", "abc.zip", 1439983, 720000},
                      RoundTrip{"FiveMegabytes", "big.dat", 5000000, 1440000},
                      RoundTrip{"MebibyteSegments", "exact.dat", 3 * 1048576 - 19, 1048576},
                      // The longest name whose segment names still fit a folder entry.
                      RoundTrip{"LongestName", std::string(249, 'n') + ".bin", 3000, 1000}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.label); });

// A stored name must name a file in the folder of the segments.
struct UnplainName {
  const char* label;
  std::string name;
  std::string shown;
};

class JoinerUnplainName : public ::testing::TestWithParam<UnplainName> {};

TEST_P(JoinerUnplainName, IsRefusedBeforeAnythingIsCreated) {
  Bench bench;
  harness::MakeFolder(bench.set + "a");  // so that a/b could be made
  WriteSet(bench.set + "abc.zip.", 2, GetParam().name, Pieces(2, 100, 31));
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(Failure("The stored file name is not a plain file name: '" +
                                            GetParam().shown + "'")));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Joiner, JoinerUnplainName,
    ::testing::Values(UnplainName{"Parent", "../evil", "../evil"},
                      UnplainName{"Subfolder", "a/b", "a/b"}, UnplainName{"Dot", ".", "."},
                      UnplainName{"DotDot", "..", ".."},
                      UnplainName{"NulInside", std::string("ab\0cd", 5), "ab\\x00cd"}),
    [](const ::testing::TestParamInfo<UnplainName>& info) { return info.param.label; });

class JoinerOutputIsMember : public ::testing::TestWithParam<std::string> {};

TEST_P(JoinerOutputIsMember, IsRefusedBeforeTruncating) {
  Bench bench;
  WriteSet(bench.set + "x.", 2, GetParam(), Pieces(2, 100, 37));
  const std::string first = harness::ReadFile(bench.set + "x.1");
  const std::string second = harness::ReadFile(bench.set + "x.2");
  RunOutcome outcome = harness::Run(bench.Joiner({"set/x.1"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            Console(Failure("The output file would replace a segment of the set: 'set/" +
                            GetParam() + "'")));
  EXPECT_EQ(harness::ReadFile(bench.set + "x.1"), first);
  EXPECT_EQ(harness::ReadFile(bench.set + "x.2"), second);
}

INSTANTIATE_TEST_SUITE_P(Joiner, JoinerOutputIsMember, ::testing::Values("x.1", "x.2"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return "Segment" + info.param.substr(2);
                         });

// A failed copy leaves the old output as it was and no temporary file.
TEST(JoinerCopyFailure, AMemberGoneSinceTheCheckEndsTheRun) {
  ExistingOutput setup;
  const std::string second = setup.bench.set + "abc.zip.2";
  auto before = setup.bench.Tree();
  before.erase(second);
  ProgramRun run = harness::Answering(setup.bench.Joiner());
  run.steps[0].action = [&second](pid_t) { std::filesystem::remove(second); };
  RunOutcome outcome = harness::Run(run);
  EXPECT_TRUE(outcome.steps_done);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(setup.Asked("y") + kOverwriting + Bound("abc.zip.1") +
                                    Failure("cannot open file 'abc.zip.2'")));
  EXPECT_EQ(harness::ReadFile(setup.bench.set + "abc.zip"), "old contents");
  EXPECT_EQ(setup.bench.Tree(), before);
}

// A sysfs attribute that opens as a regular file of 4096 bytes and fails
// every read (EIO): a device's autosuspend delay where it has none.
std::string UnreadableAttribute() {
  for (const char* path : {"/sys/devices/software/power/autosuspend_delay_ms",
                           "/sys/devices/platform/power/autosuspend_delay_ms"}) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) continue;
    char byte;
    struct stat info {};
    const bool fails = fstat(fd, &info) == 0 && info.st_size == 4096 && read(fd, &byte, 1) < 0;
    close(fd);
    if (fails) return path;
  }
  return "";
}

// The member passes the check and fails at its first read.
TEST(JoinerCopyFailure, AMemberThatCannotBeReadEndsTheRun) {
  const std::string write_only = UnreadableAttribute();
  if (write_only.empty()) GTEST_SKIP() << "no unreadable sysfs attribute on this machine";
  Bench bench;
  const auto pieces = SetPieces(3, 4096, 200, 41);
  WriteSet(bench.set + "abc.zip.", 3, "abc.zip", pieces);
  std::filesystem::remove(bench.set + "abc.zip.2");
  std::filesystem::create_symlink(write_only, bench.set + "abc.zip.2");
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(bench.Joiner());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, Console(Bound("abc.zip.1") + " Currently binding abc.zip.2...." +
                                    Failure("cannot read file 'abc.zip.2'")));
  EXPECT_EQ(bench.Tree(), before);
}

struct WriteLimit {
  const char* label;
  long long limit;
  int failing_segment;  // the segments before it are bound whole
};

class JoinerWriteFailure : public ::testing::TestWithParam<WriteLimit> {};

// The output 1000 + 1017 + 500 bytes long; the file-size limit's signal
// left at its default in the program, which must not die of it. Nothing is
// left behind.
TEST_P(JoinerWriteFailure, EndsTheRun) {
  Bench bench;
  WriteSet(bench.set + "abc.zip.", 3, "abc.zip", SetPieces(3, 1017, 500, 43));
  const auto before = bench.Tree();
  ProgramRun run = bench.Joiner();
  run.file_size_limit = GetParam().limit;
  RunOutcome outcome = harness::Run(run);
  const int failing = GetParam().failing_segment;
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            Console(BoundAll("abc.zip.", failing - 1) + " Currently binding abc.zip." +
                    std::to_string(failing) + "...." + Failure("cannot write file 'set/abc.zip'")));
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(Joiner, JoinerWriteFailure,
                         ::testing::Values(WriteLimit{"Nothing", 0, 1},
                                           WriteLimit{"InSegmentOne", 500, 1},
                                           WriteLimit{"InSegmentTwo", 1500, 2},
                                           WriteLimit{"InSegmentThree", 2300, 3}),
                         [](const ::testing::TestParamInfo<WriteLimit>& info) {
                           return info.param.label;
                         });

}  // namespace
