// The folder a whole-program test runs in: both programs linked into bin/,
// so that word 0 names a known program folder (where the splitter writes
// its set and looks for Trenzik.ini), the splitter's input in data/ and a
// set for the joiner in set/. The splitter runs in data/, the joiner in the
// top folder, so that its argument set/abc.zip.1 has the folder part set/.
// For the test programs built with TRENZIK_PROGRAM and MORVEL_PROGRAM.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"
#include "test_files.h"

namespace harness {

struct Bench {
  TempFolder folder;
  std::string bin = folder / "bin/";
  std::string data = folder / "data/";
  std::string set = folder / "set/";

  Bench() {
    LinkPrograms();
    MakeFolder(data);
    MakeFolder(set);
  }
  // Again after a file system is mounted over bin/.
  void LinkPrograms() const {
    LinkProgram(TRENZIK_PROGRAM, bin + "Trenzik");
    LinkProgram(MORVEL_PROGRAM, bin + "Morvel");
  }

  ProgramRun Splitter(const std::vector<std::string>& arguments = {"abc.zip", "512"}) const {
    return Program(bin + "Trenzik", arguments, data);
  }
  ProgramRun Joiner(const std::vector<std::string>& arguments = {"set/abc.zip.1"}) const {
    return Program(bin + "Morvel", arguments, folder.path());
  }
  // `size` random bytes at data/`name`, returned.
  std::string Input(std::size_t size, unsigned seed = 7,
                    const std::string& name = "abc.zip") const {
    std::string bytes = RandomBytes(size, seed);
    WriteFile(data + name, bytes);
    return bytes;
  }
  // A terminal run of the splitter that meets an old bin/abc.zip.1
  // ("old segment") and so asks its question.
  ProgramRun SplitterAsking() const {
    Input(600, 1);
    WriteFile(bin + "abc.zip.1", "old segment");
    ProgramRun run = Splitter();
    run.terminal = true;
    return run;
  }
  // Through the joiner: the set the splitter wrote into bin/.
  RunOutcome JoinSplitterSet() const { return Run(Joiner({"bin/abc.zip.1"})); }
  std::set<std::string> Tree() const { return testkit::Tree(folder.path()); }

 private:
  static ProgramRun Program(const std::string& executable,
                            const std::vector<std::string>& arguments,
                            const std::string& working_directory) {
    ProgramRun run;
    run.executable = executable;
    run.words = {executable};
    run.words.insert(run.words.end(), arguments.begin(), arguments.end());
    run.working_directory = working_directory;
    return run;
  }
};

// A special file (harness::Special) in one role of a run: refused or passed
// over at once, never waited on and never written into.
struct SpecialEnding {
  std::string output;
  int exit_status;
  bool tree_kept;     // nothing in the bench came or went
  bool special_kept;  // the special file is still what it was, else a regular file
};
struct SpecialRole {
  const char* name;
  std::string where;                          // the special file, below the bench's folder
  std::function<void(const Bench&)> arrange;  // everything else the run needs
  std::function<SpecialEnding(const Bench&, Special)> ending;
};
using SpecialCase = std::tuple<SpecialRole, Special>;

inline void PrintTo(const SpecialRole& role, std::ostream* out) { *out << role.name; }
inline std::string SpecialCaseName(const ::testing::TestParamInfo<SpecialCase>& info) {
  return std::string(std::get<0>(info.param).name) + SpecialName(std::get<1>(info.param));
}
// Every kind of special file in each of the roles.
template <std::size_t N>
auto EverySpecialIn(const SpecialRole (&roles)[N]) {
  return ::testing::Combine(::testing::ValuesIn(roles), ::testing::ValuesIn(kEverySpecial));
}

// The whole case: the bench arranged, the special file made, the program
// (the joiner on set/abc.zip.1, or the splitter on abc.zip) run and what
// it left.
inline void CheckSpecialCase(const SpecialCase& c, bool joiner) {
  namespace fs = std::filesystem;
  const auto& [role, kind] = c;
  Bench bench;
  role.arrange(bench);
  const std::string special = bench.folder / role.where;
  ASSERT_TRUE(MakeSpecial(kind, special)) << special;
  const auto kind_of = [&special] {
    const fs::file_type type = fs::symlink_status(special).type();
    return std::pair{type, type == fs::file_type::symlink ? fs::read_symlink(special) : fs::path()};
  };
  const auto made = kind_of();
  const auto before = bench.Tree();
  RunOutcome outcome = Run(joiner ? bench.Joiner() : bench.Splitter());
  const SpecialEnding ending = role.ending(bench, kind);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, ending.exit_status);
  EXPECT_EQ(outcome.output, ending.output);
  if (ending.tree_kept) {
    EXPECT_EQ(bench.Tree(), before);
  }
  if (ending.special_kept) {
    EXPECT_EQ(kind_of(), made);
  } else {
    EXPECT_TRUE(testkit::IsRegular(special));  // replaced by a segment, the link's target untouched
  }
}

}  // namespace harness
