// Names that could drive the user's terminal or reach the wrong file: stored
// names and found names with control bytes are refused before anything is
// created and are shown escaped, while names with bytes 0x80 .. 0xFF keep
// working; a typed name that is an entry's own name wins over the pattern
// it also is.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "bench.h"
#include "expected_text.h"

namespace {

using harness::ProgramRun;
using harness::RunOutcome;

using harness::Bench;
using testkit::Tree;

// A set whose count is its number of pieces.
void WriteSet(const std::string& base, const std::string& name,
              const std::vector<std::string>& pieces) {
  testkit::WriteSet(base, static_cast<std::int32_t>(pieces.size()), name, pieces);
}

// Every byte 0x00 .. 0x1F but the line end, and 0x7F.
bool HoldsForeignControlByte(const std::string& text) {
  for (char byte : text) {
    const auto value = static_cast<unsigned char>(byte);
    if ((value < 0x20 && value != '\n') || value == 0x7F) return true;
  }
  return false;
}

// Both programs run in the top folder here, so that every path they print
// has the folder part the test typed.
ProgramRun Program(const Bench& bench, const std::string& name,
                   const std::vector<std::string>& arguments) {
  ProgramRun run = name == "Morvel" ? bench.Joiner(arguments) : bench.Splitter(arguments);
  run.working_directory = bench.folder.path();
  return run;
}

struct HostileName {
  const char* label;
  std::string name;
  std::string shown;  // as the refusal prints it
};

void PrintTo(const HostileName& name, std::ostream* out) { *out << name.label; }
std::string Label(const ::testing::TestParamInfo<HostileName>& info) { return info.param.label; }

const HostileName kHostileNames[] = {
    {"ClearsTheScreen", "x\x1b[2J\x1b[H Successfully binded!\x1b[8m",
     "x\\x1b[2J\\x1b[H Successfully binded!\\x1b[8m"},
    {"SetsTheTitle", "\x1b(0\x1b]0;owned\x07" "abc.zip", "\\x1b(0\\x1b]0;owned\\x07abc.zip"},
    {"Bell", "ring\x07.zip", "ring\\x07.zip"},
    {"LineEnd", "two\nlines.zip", "two\\x0alines.zip"},
    {"CarriageReturn", "back\roverwritten.zip", "back\\x0doverwritten.zip"},
    {"Delete", "rub\x7fout.zip", "rub\\x7fout.zip"},
    {"Byte01", "\x01.zip", "\\x01.zip"},
    {"TitleThenBell", "a\x1b]0;x\x07.zip", "a\\x1b]0;x\\x07.zip"},
};

class JoinerHostileName : public ::testing::TestWithParam<HostileName> {};

TEST_P(JoinerHostileName, IsRefusedEscapedAndNothingIsCreated) {
  Bench bench;
  WriteSet(bench.folder / "set/abc.zip.", GetParam().name,
           {harness::RandomBytes(300, 3), harness::RandomBytes(300, 4)});
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(Program(bench, "Morvel", {"set/abc.zip.1"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, expected::kJoinerBanner +
                                "\n ERROR : \n\n  The stored file name is not a plain file name: '" +
                                GetParam().shown + "'\n\n" + expected::kAborted +
                                expected::kClosing);
  EXPECT_FALSE(HoldsForeignControlByte(outcome.output));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(Names, JoinerHostileName, ::testing::ValuesIn(kHostileNames), Label);

class SplitterHostileName : public ::testing::TestWithParam<HostileName> {};

TEST_P(SplitterHostileName, IsRefusedEscapedBeforeAnySegment) {
  Bench bench;
  harness::WriteFile(bench.folder / ("data/" + GetParam().name), harness::RandomBytes(2000, 5));
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(Program(bench, "Trenzik", {"data/" + GetParam().name, "512"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, expected::kSplitterBanner +
                                "\nERROR:\n  The file name holds a control character: '" +
                                GetParam().shown + "'\n" + expected::kClosing);
  EXPECT_FALSE(HoldsForeignControlByte(outcome.output));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(Names, SplitterHostileName, ::testing::ValuesIn(kHostileNames), Label);

// The segment file's own name, as the folder holds it: refused before any
// segment is read, so that no progress line or list ever shows it.
class JoinerHostileFoundName : public ::testing::TestWithParam<HostileName> {};

std::string FoundNameRefused(const std::string& shown) {
  return expected::kJoinerBanner + "\n ERROR : \n\n  The file name holds a control character: '" +
         shown + "'\n\n" + expected::kAborted + expected::kClosing;
}

TEST_P(JoinerHostileFoundName, IsRefusedEscapedAndNothingIsCreated) {
  Bench bench;
  WriteSet(bench.folder / ("set/" + GetParam().name + "."), "abc.zip",
           {harness::RandomBytes(300, 3), harness::RandomBytes(300, 4)});
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(Program(bench, "Morvel", {"set/" + GetParam().name + ".1"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, FoundNameRefused(GetParam().shown + ".1"));
  EXPECT_EQ(bench.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(Names, JoinerHostileFoundName, ::testing::ValuesIn(kHostileNames),
                         Label);

TEST(JoinerHostileFoundName, IsRefusedAlsoWhenAPatternFoundIt) {
  Bench bench;
  WriteSet(bench.folder / "set/\x1b]2;PWNED\x07\x1b[2J.", "abc.zip",
           {harness::RandomBytes(300, 3), harness::RandomBytes(300, 4)});
  RunOutcome outcome = harness::Run(Program(bench, "Morvel", {"set/*.1"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output, FoundNameRefused("\\x1b]2;PWNED\\x07\\x1b[2J.1"));
}

// The typed name is harmless; the name found for it is not, and it is the
// one that would name the set.
TEST(SplitterHostileName, IsRefusedAlsoWhenAPatternFoundIt) {
  Bench bench;
  harness::WriteFile(bench.folder / "data/title\x1b]0;x\x07.zip", harness::RandomBytes(2000, 6));
  const auto before = bench.Tree();
  RunOutcome outcome = harness::Run(Program(bench, "Trenzik", {"data/title*", "512"}));
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.output,
            expected::kSplitterBanner +
                "\nERROR:\n  The file name holds a control character: 'title\\x1b]0;x\\x07.zip'\n" +
                expected::kClosing);
  EXPECT_EQ(bench.Tree(), before);
}

// ---------------------------------------------------------------------------
// Every control byte in every place where a program prints a name or a
// path: a found name, the folder part of the joiner's argument, the
// splitter's program folder and the folder part of its input, each in a
// summary, at the overwrite question and in a refusal. The byte must never
// come out raw, and its escape must stand where the name does. (The names
// of the missing and wrong-size lists are made from the found name.)

std::string Escaped(char byte) {
  static const char kHex[] = "0123456789abcdef";
  const auto value = static_cast<unsigned char>(byte);
  return std::string("\\x") + kHex[value >> 4] + kHex[value & 0x0F];
}

// Where the byte goes: `arrange` makes the files around a name that holds
// `part` between the two letters of `around`, and gives the run; the
// output must hold `shown` with `part` as its escape, and never that name
// with the byte itself.
struct PrintedPlace {
  const char* label;
  const char* around;
  std::function<ProgramRun(const Bench&, const std::string& part)> arrange;
  std::function<std::string(const Bench&, const std::string& part)> shown;
};

// A joiner's set in folder `folder`, optionally with something at the output's name.
ProgramRun JoinIn(const Bench& bench, const std::string& folder) {
  harness::MakeFolder(bench.folder / folder);
  WriteSet(bench.folder / (folder + "/abc.zip."), "abc.zip",
           {harness::RandomBytes(300, 3), harness::RandomBytes(100, 4)});
  return Program(bench, "Morvel", {folder + "/abc.zip.1"});
}
void MakeFifo(const std::string& path) {
  EXPECT_TRUE(harness::MakeSpecial(harness::Special::kFifo, path)) << path;
}
// A splitter started from program folder `folder`, on data/abc.zip.
ProgramRun SplitFrom(const Bench& bench, const std::string& folder) {
  harness::LinkProgram(TRENZIK_PROGRAM, bench.folder / (folder + "/Trenzik"));
  harness::WriteFile(bench.folder / "data/abc.zip", harness::RandomBytes(700, 5));
  ProgramRun run = Program(bench, "Trenzik", {"data/abc.zip", "512"});
  run.executable = bench.folder / (folder + "/Trenzik");
  run.words[0] = run.executable;
  return run;
}

const PrintedPlace kPrintedPlaces[] = {
    {"FoundName", "ab",
     [](const Bench& bench, const std::string& part) {
       WriteSet(bench.folder / ("set/a" + part + "b.zip."), "abc.zip", {"x", "y"});
       return Program(bench, "Morvel", {"set/a" + part + "b.zip.1"});
     },
     [](const Bench&, const std::string& part) { return "character: 'a" + part + "b.zip.1'\n"; }},
    {"FoundNameByPattern", "ab",
     [](const Bench& bench, const std::string& part) {
       WriteSet(bench.folder / ("set/a" + part + "b.zip."), "abc.zip", {"x", "y"});
       return Program(bench, "Morvel", {"set/a*.1"});
     },
     [](const Bench&, const std::string& part) { return "character: 'a" + part + "b.zip.1'\n"; }},
    {"JoinerFolderInSummary", "st",
     [](const Bench& bench, const std::string& part) { return JoinIn(bench, "s" + part + "t"); },
     [](const Bench&, const std::string& part) {
       return "  Folder the file was created:\n    s" + part + "t/\n";
     }},
    {"JoinerFolderAtQuestion", "st",
     [](const Bench& bench, const std::string& part) {
       ProgramRun run = JoinIn(bench, "s" + part + "t");
       harness::WriteFile(bench.folder / ("s" + part + "t/abc.zip"), "old");
       return run;
     },
     [](const Bench&, const std::string& part) {
       return " 's" + part + "t/abc.zip' already exists.\n";
     }},
    {"JoinerFolderInRefusal", "st",
     [](const Bench& bench, const std::string& part) {
       ProgramRun run = JoinIn(bench, "s" + part + "t");
       MakeFifo(bench.folder / ("s" + part + "t/abc.zip"));
       return run;
     },
     [](const Bench&, const std::string& part) {
       return "output file's name:\n  's" + part + "t/abc.zip'\n";
     }},
    {"ProgramFolderInSummary", "bn",
     [](const Bench& bench, const std::string& part) { return SplitFrom(bench, "b" + part + "n"); },
     [](const Bench& bench, const std::string& part) {
       return "  Name of the folder segmented files created :\n    " + bench.folder.path() + "/b" +
              part + "n/\n";
     }},
    {"ProgramFolderAtQuestion", "bn",
     [](const Bench& bench, const std::string& part) {
       ProgramRun run = SplitFrom(bench, "b" + part + "n");
       harness::WriteFile(bench.folder / ("b" + part + "n/abc.zip.1"), "old");
       return run;
     },
     [](const Bench& bench, const std::string& part) {
       return " '" + bench.folder.path() + "/b" + part + "n/abc.zip.1' already exists.\n";
     }},
    {"ProgramFolderInRefusal", "bn",
     [](const Bench& bench, const std::string& part) {
       ProgramRun run = SplitFrom(bench, "b" + part + "n");
       MakeFifo(bench.folder / ("b" + part + "n/abc.zip.1"));
       return run;
     },
     [](const Bench& bench, const std::string& part) {
       return "segment file's name:\n  '" + bench.folder.path() + "/b" + part + "n/abc.zip.1'\n";
     }},
    {"InputFolderInRefusal", "da",
     [](const Bench& bench, const std::string& part) {
       harness::MakeFolder(bench.folder / ("d" + part + "a"));
       MakeFifo(bench.folder / ("d" + part + "a/abc.zip"));
       return Program(bench, "Trenzik", {"d" + part + "a/abc.zip", "512"});
     },
     [](const Bench&, const std::string& part) {
       return "cannot be segmented:\n  'd" + part + "a/abc.zip'\n";
     }},
};

void PrintTo(const PrintedPlace& place, std::ostream* out) { *out << place.label; }

class ControlBytePrinted : public ::testing::TestWithParam<PrintedPlace> {};

TEST_P(ControlBytePrinted, ComesOutEscapedOnly) {
  std::string bytes;
  for (int value = 0x01; value < 0x20; ++value) bytes += static_cast<char>(value);
  bytes += '\x7f';
  for (char byte : bytes) {
    SCOPED_TRACE("byte " + Escaped(byte));
    Bench bench;
    const std::string raw(1, byte);
    RunOutcome outcome = harness::Run(GetParam().arrange(bench, raw));
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_NE(outcome.output.find(GetParam().shown(bench, Escaped(byte))), std::string::npos)
        << outcome.output;
    const std::string around = GetParam().around;
    EXPECT_EQ(outcome.output.find(around[0] + raw + around[1]), std::string::npos);
    EXPECT_FALSE(HoldsForeignControlByte(outcome.output));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, ControlBytePrinted, ::testing::ValuesIn(kPrintedPlaces),
    [](const ::testing::TestParamInfo<PrintedPlace>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Names that are no trouble go through the splitter and back.

struct FineName {
  const char* label;
  std::string name;
};

class FineNameRoundTrip : public ::testing::TestWithParam<FineName> {};

TEST_P(FineNameRoundTrip, IsSplitAndJoinedByteForByte) {
  Bench bench;
  const std::string& name = GetParam().name;
  const std::string source = harness::RandomBytes(1500, 8);
  harness::WriteFile(bench.folder / ("data/" + name), source);
  RunOutcome split = harness::Run(Program(bench, "Trenzik", {"data/" + name, "512"}));
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_NE(split.output.find("  Name of the file segmented: " + name + "\n"), std::string::npos);
  ASSERT_TRUE(harness::Exists(bench.folder / ("bin/" + name + ".1")));

  RunOutcome join = harness::Run(Program(bench, "Morvel", {"bin/" + name + ".1"}));
  EXPECT_EQ(join.exit_status, 0);
  EXPECT_NE(join.output.find("  Name of file: " + name + "\n"), std::string::npos);
  EXPECT_TRUE(harness::ReadFile(bench.folder / ("bin/" + name)) == source);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FineNameRoundTrip,
    ::testing::Values(FineName{"Latin1", "caf\xe9.txt"},
                      FineName{"ShiftJis", "\x83\x5c\x83\x74\x83\x67.txt"},
                      FineName{"HighestBytes", "\xfe\xff.bin"},
                      // Device words mean nothing to a POSIX folder.
                      FineName{"Nul", "NUL"}, FineName{"Com1", "com1.zip"}),
    [](const ::testing::TestParamInfo<FineName>& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// A POSIX name may hold '*' and '?'; typed as it is, it names that entry.

TEST(ExactName, TheSplitterTakesTheFileTypedNotTheFirstMatch) {
  Bench bench;
  const std::string typed = harness::RandomBytes(1500, 9);
  harness::WriteFile(bench.folder / "data/report?.pdf", typed);
  harness::WriteFile(bench.folder / "data/report1.pdf", harness::RandomBytes(1500, 10));
  RunOutcome split = harness::Run(Program(bench, "Trenzik", {"data/report?.pdf", "512"}));
  EXPECT_EQ(split.exit_status, 0);
  EXPECT_NE(split.output.find("  Name of the file segmented: report?.pdf\n"), std::string::npos);
  EXPECT_FALSE(harness::Exists(bench.folder / "bin/report1.pdf.1"));
  const std::string header = expected::SegmentHeader(3, "report?.pdf");  // (11 + 10 + 1500) / 512 + 1
  EXPECT_EQ(harness::ReadFile(bench.folder / "bin/report?.pdf.1").substr(0, header.size()),
            header);

  RunOutcome join = harness::Run(Program(bench, "Morvel", {"bin/report?.pdf.1"}));
  EXPECT_EQ(join.exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(bench.folder / "bin/report?.pdf") == typed);
  EXPECT_FALSE(harness::Exists(bench.folder / "bin/report1.pdf"));
}

// Two sets side by side: set?.zip and set1.zip, the second first in byte order.
struct TwoSets {
  Bench bench;
  std::vector<std::string> question_set = {harness::RandomBytes(400, 11),
                                           harness::RandomBytes(400, 12)};
  std::vector<std::string> digit_set = {harness::RandomBytes(400, 13),
                                        harness::RandomBytes(400, 14)};
  TwoSets() {
    WriteSet(bench.folder / "set/set?.zip.", "set?.zip", question_set);
    WriteSet(bench.folder / "set/set1.zip.", "set1.zip", digit_set);
  }
};

TEST(ExactName, TheJoinerBindsTheSetTypedNotTheFirstMatch) {
  TwoSets sets;
  RunOutcome outcome = harness::Run(Program(sets.bench, "Morvel", {"set/set?.zip.1"}));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_NE(outcome.output.find(" Currently binding set?.zip.2.... Done!\n"), std::string::npos);
  EXPECT_TRUE(harness::ReadFile(sets.bench.folder / "set/set?.zip") ==
              sets.question_set[0] + sets.question_set[1]);
  EXPECT_FALSE(harness::Exists(sets.bench.folder / "set/set1.zip"));
}

TEST(ExactName, ANameOfNoEntryIsStillAPattern) {
  TwoSets sets;
  RunOutcome outcome = harness::Run(Program(sets.bench, "Morvel", {"set/set*.zip.1"}));
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_TRUE(harness::ReadFile(sets.bench.folder / "set/set1.zip") ==
              sets.digit_set[0] + sets.digit_set[1]);
  EXPECT_FALSE(harness::Exists(sets.bench.folder / "set/set?.zip"));
}

}  // namespace
