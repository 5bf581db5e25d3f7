// The Win32 directory-entry lookup reports the first entry the system lists,
// as FindFirstFileA gives it, not the lowest name; an existing name that is
// written over gets a new file through a rename, which leaves no file beside
// it and never takes a folder's place.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// The names FindFirstFileA and FindNextFileA report for `pattern`, in their
// order, without "." and "..".
std::vector<std::string> SystemListing(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
      names.push_back(data.cFileName);
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return names;
}

TEST(Win32Lookup, ReportsTheFirstEntryListedNotTheLowestName) {
  const fs::path folder = fs::path(::testing::TempDir()) / "lookup_order";
  fs::remove_all(folder);
  fs::create_directories(folder);
  // Byte order puts "Zeta" first (0x5A < 0x61); a listing that ignores
  // letter case, as NTFS's and Wine's do, puts "alpha" first.
  for (const char* name : {"Zeta.bin", "alpha.bin", "mid.bin", "b_1.dat", "bB1.dat"}) {
    std::ofstream(folder / name) << "x";
  }
  const std::string base = folder.string() + "\\";
  bool order_differs = false;
  for (const char* pattern : {"*", "*.bin", "*.dat", "b*", "?eta.bin"}) {
    const std::vector<std::string> listing = SystemListing(base + pattern);
    ASSERT_FALSE(listing.empty()) << pattern;
    char stored[512] = "untouched";
    const platform::EntryLookup lookup =
        platform::FindDirectoryEntry((base + pattern).c_str(), stored, sizeof stored);
    EXPECT_TRUE(lookup.found) << pattern;
    EXPECT_FALSE(lookup.release_failed) << pattern;
    EXPECT_EQ(std::string(stored), listing.front()) << pattern;
    std::string lowest = listing.front();
    for (const std::string& name : listing) {
      if (name < lowest) lowest = name;
    }
    order_differs = order_differs || lowest != listing.front();
  }
  // Otherwise this test could not tell the first entry from the lowest.
  EXPECT_TRUE(order_differs) << "the system listed every pattern in byte order";
  fs::remove_all(folder);
}

TEST(Win32Overwrite, ReplacesAFileByRenameAndLeavesAFolderAlone) {
  const fs::path folder = fs::path(::testing::TempDir()) / "overwrite";
  fs::remove_all(folder);
  fs::create_directories(folder / "sub");
  std::ofstream(folder / "f") << "old contents";
  const std::string base = folder.string() + "\\";

  platform::OverwriteTarget target{platform::kNoFile, 99};
  ASSERT_EQ(platform::OpenForOverwrite((base + "f").c_str(), {0, 0}, &target),
            platform::OverwriteOpen::kOpened);
  EXPECT_EQ(target.old_size, 0u);
  // The new file is already in place while it is written.
  EXPECT_EQ(fs::file_size(folder / "f"), 0u);
  EXPECT_TRUE(platform::WriteAt(target.file, 0, "new", 3));
  EXPECT_TRUE(platform::CloseFile(target.file));
  {
    std::ifstream read(folder / "f");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(read), {}), "new");
  }

  EXPECT_EQ(platform::OpenForOverwrite((base + "sub").c_str(), {0, 0}, &target),
            platform::OverwriteOpen::kFailed);
  EXPECT_TRUE(fs::is_directory(folder / "sub"));
  // Neither run left its short-lived file behind.
  EXPECT_EQ(SystemListing(base + "*"), (std::vector<std::string>{"f", "sub"}));
  fs::remove_all(folder);
}

}  // namespace
