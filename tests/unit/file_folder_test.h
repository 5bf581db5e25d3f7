// A test fixture with a fresh folder of its own and small helpers to put
// bytes into files there and read them back, for the tests of the platform
// layer and of the copies; and the ranges every way of copying is tried on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/copy_buffer.h"
#include "platform/platform.h"
#include "temp_folder.h"
#include "test_files.h"

class FileFolderTest : public ::testing::Test {
 protected:
  // A path in the test's folder, joined with the platform's own separator.
  std::string Path(const std::string& name) const {
    return folder_.string() + platform::kPathSeparator + name;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    testkit::WriteFile(Path(name), bytes);
  }
  std::string Read(const std::string& name) const { return testkit::ReadFile(Path(name)); }
  // Opened as the programs open a segment: created, or written from offset
  // 0 in place.
  static platform::FileHandle OpenToWrite(const std::string& path) {
    platform::OverwriteTarget target{platform::kNoFile, 0};
    platform::OpenForOverwrite(path.c_str(), platform::FileIdentity{~0ull, ~0ull}, &target);
    return target.file;
  }

  testkit::TempFolder temp_;
  std::filesystem::path folder_{temp_.path()};
};

// Ranges of a source of kCopySourceSize bytes: offsets whose pages line up
// (the kernel's copy, where there is one) and offsets a header's few bytes
// apart (the buffer), across more than one buffer's worth, and copies that
// reach past the input's end or start there.
struct CopyCase {
  const char* name;
  std::uint64_t from_offset;
  std::uint64_t to_offset;
  std::uint64_t count;
};
inline void PrintTo(const CopyCase& c, std::ostream* out) { *out << c.name; }

inline constexpr std::uint64_t kCopySourceSize = 3 * kCopyBufferSize + 12345;
inline constexpr std::uint64_t kBeyondAnyFile = std::uint64_t{1} << 40;
inline constexpr CopyCase kCopyCases[] = {
    {"WholeInput", 0, 0, kCopySourceSize},
    {"ExactlyOneBuffer", 0, 0, kCopyBufferSize},
    {"PagesLineUpAtAnOffset", 8192, 4096, 3 * kCopyBufferSize},
    {"PagesLineUpTheOtherWay", 4096, 8192, 2 * kCopyBufferSize},
    {"ShiftedByAHeader", 0, 17, kCopySourceSize},
    {"ShiftedAcrossBuffers", 3, 17, 2 * kCopyBufferSize + 5},
    {"ShiftedTheOtherWay", 1439983, 0, kCopyBufferSize + 1},
    {"Short", 100, 0, 512},
    {"ToTheEndOfTheInput", 17, 3, kBeyondAnyFile},
    {"PagesLineUpToTheEnd", 4096, 0, kBeyondAnyFile},
    {"InputEndsEarly", 100, 0, 4 * kCopyBufferSize},
    {"StartsAtTheEnd", kCopySourceSize, 9, 10},
    {"Nothing", 100, 100, 0},
};

// What a case copies: the count, or what the source holds from its offset.
inline std::uint64_t CopiedBy(const CopyCase& c) {
  const std::uint64_t held = kCopySourceSize - c.from_offset;
  return c.count < held ? c.count : held;
}
