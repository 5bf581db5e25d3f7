// Stored names that Windows would send to a device (NUL, com1.zip ...) or
// that hold control bytes are refused by Morvel.exe before it creates or asks
// anything, and the refusal shows the name with its control bytes escaped;
// a name that only looks like a device name still binds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "expected_text.h"
#include "wine_driver.h"

namespace {

using wine::Build;
using wine::Drive;
using wine::Folder;

std::vector<std::string> Entries(const std::string& unix_folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(unix_folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct StoredNameCase {
  const char* label;
  std::string name;
  std::string shown;  // empty: the name is fine and the set is bound
};

void PrintTo(const StoredNameCase& c, std::ostream* os) { *os << c.label; }

class WineStoredNameTest : public ::testing::TestWithParam<std::tuple<Build, StoredNameCase>> {};

TEST_P(WineStoredNameTest, RefusesDevicesAndControlBytesBindsTheRest) {
  const Build& build = std::get<0>(GetParam());
  const StoredNameCase& c = std::get<1>(GetParam());
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
  const std::string source = harness::RandomBytes(1000, 21);
  const std::string whole = expected::SegmentHeader(2, c.name) + source;
  harness::MakeFolder(folder.Unix("set"));
  harness::WriteFile(folder.Unix("set/abc.zip.1"), whole.substr(0, 600));
  harness::WriteFile(folder.Unix("set/abc.zip.2"), whole.substr(600));
  const std::vector<std::string> before = Entries(folder.Unix("set"));

  harness::RunOutcome run = wine::Run(
      build, wine::Plainly(folder.Dos("tools/Morvel.exe"), {folder.Dos("set") + "\\abc.zip.1"},
                           folder.Unix("set")));
  if (!c.shown.empty()) {
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, expected::kJoinerBanner +
                              "\n ERROR : \n\n  The stored file name is not a plain file name: '" +
                              c.shown + "'\n\n" + expected::kAborted + expected::kClosing);
    EXPECT_EQ(Entries(folder.Unix("set")), before);
  } else {
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, expected::kJoinerBanner +
                              expected::joiner::Joined("abc.zip", c.name, folder.Dos("set") + "\\", 2) +
                              expected::kClosing);
    EXPECT_EQ(harness::ReadFile(folder.Unix("set/" + c.name)), source);
  }
}

const StoredNameCase kStoredNameCases[] = {
    {"Nul", "NUL", "NUL"},
    {"Com1Zip", "com1.zip", "com1.zip"},
    {"AuxWithBlank", "Aux .txt", "Aux .txt"},
    {"Lpt9", "LPT9.dat", "LPT9.dat"},
    // COM and LPT with a superscript one, two or three (code page 1252).
    {"ComSuperscriptOne", "com\xb9.zip", "com\xb9.zip"},
    {"LptSuperscriptThree", "LPT\xb3", "LPT\xb3"},
    {"Escape", "x\x1b[2J.zip", "x\\x1b[2J.zip"},
    {"Bell", "ring\x07.zip", "ring\\x07.zip"},
    // Not devices: the part before the first full stop is another word.
    {"Com10", "com10.zip", ""},
    {"NulInTheExtension", "abc.nul", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, WineStoredNameTest,
                         ::testing::Combine(::testing::Values(wine::kX86, wine::kX64),
                                            ::testing::ValuesIn(kStoredNameCases)),
                         [](const auto& info) {
                           return wine::BuildName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).label;
                         });

}  // namespace
