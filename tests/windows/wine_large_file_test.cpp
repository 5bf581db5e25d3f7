// The 32-bit build with a source of more than 4 GiB: every offset past
// 2^31 and 2^32 must reach the right segment. The source is sparse, with
// marks at the places where a 32-bit offset would wrap; the segments and
// the joined copy are written in full (about 9 GB on the prefix's drive).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "expected_text.h"
#include "wine_driver.h"

namespace {

using wine::Drive;
using wine::Folder;
namespace joiner = expected::joiner;
namespace splitter = expected::splitter;

constexpr std::uint64_t kSourceSize = (std::uint64_t{1} << 32) + 1000;
constexpr std::uint64_t kSegmentSize = 2000000000;
constexpr std::uint64_t kHeaderLength = 10 + 7;  // "big.bin"
constexpr std::size_t kMarkLength = 16;

// Source offsets of the marks: the start, across the end of segment 1,
// across 2^31 and 2^32, and the last bytes of the file.
const std::uint64_t kMarkOffsets[] = {
    0,
    kSegmentSize - kHeaderLength - kMarkLength / 2,
    (std::uint64_t{1} << 31) - kMarkLength / 2,
    (std::uint64_t{1} << 32) - kMarkLength / 2,
    kSourceSize - kMarkLength,
};

std::string Mark(std::uint64_t offset) {
  return harness::RandomBytes(kMarkLength, static_cast<unsigned>(offset % 1000003));
}

void MakeSparseSource(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kSourceSize)), 0);
  for (std::uint64_t offset : kMarkOffsets) {
    const std::string mark = Mark(offset);
    ASSERT_EQ(pwrite(fd, mark.data(), mark.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(mark.size()));
  }
  close(fd);
}

// `length` bytes at `offset` of one file.
std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t length) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "(cannot open " + path + ")";
  std::string bytes(length, '\0');
  const ssize_t got = pread(fd, bytes.data(), length, static_cast<off_t>(offset));
  close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return bytes;
}

// `length` bytes at `offset` of the set's concatenation (header included),
// across a segment boundary if need be.
std::string ReadSetAt(const std::string& base, std::uint64_t offset, std::size_t length) {
  std::string bytes;
  while (bytes.size() < length) {
    const std::uint64_t segment = offset / kSegmentSize + 1;
    const std::uint64_t within = offset % kSegmentSize;
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(length - bytes.size(), kSegmentSize - within));
    const std::string piece = ReadAt(base + "." + std::to_string(segment), within, take);
    if (piece.size() != take) return bytes + piece;
    bytes += piece;
    offset += take;
  }
  return bytes;
}

TEST(WineLargeFile, The32BitBuildSplitsAndJoinsASourceBeyond4GiB) {
  const wine::Build& build = wine::kX86;
  Folder folder(build, Drive::kC);
  wine::PlaceProgram(build, "Trenzik.exe", folder.Unix("tools/Trenzik.exe"));
  wine::PlaceProgram(build, "Morvel.exe", folder.Unix("tools/Morvel.exe"));
  harness::WriteFile(folder.Unix("tools/Trenzik.ini"), "size=2000000000\r\n");
  harness::MakeFolder(folder.Unix("data"));
  MakeSparseSource(folder.Unix("data/big.bin"));
  if (HasFatalFailure()) return;

  // (7 + 4294968296 + 10) / 2000000000 + 1 = 3 segments.
  wine::Start split = wine::Plainly(folder.Dos("tools/Trenzik.exe"), {folder.Dos("data/big.bin")},
                                    folder.Unix("data"));
  split.timeout_seconds = 900;
  harness::RunOutcome run = wine::Run(build, split);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, expected::kSplitterBanner + splitter::IniRead(2000000000) + splitter::kMeasured +
                            splitter::SplitWritten("big.bin", folder.Dos("tools") + "\\", 3) +
                            expected::kClosing);
  const std::string base = folder.Unix("tools/big.bin");
  ASSERT_TRUE(harness::Exists(base + ".3"));
  EXPECT_EQ(std::filesystem::file_size(base + ".1"), kSegmentSize);
  EXPECT_EQ(std::filesystem::file_size(base + ".2"), kSegmentSize);
  EXPECT_EQ(std::filesystem::file_size(base + ".3"),
            kHeaderLength + kSourceSize - 2 * kSegmentSize);
  EXPECT_FALSE(harness::Exists(base + ".4"));
  EXPECT_EQ(ReadAt(base + ".1", 0, kHeaderLength), expected::SegmentHeader(3, "big.bin"));
  for (std::uint64_t offset : kMarkOffsets) {
    EXPECT_EQ(ReadSetAt(base, kHeaderLength + offset, kMarkLength), Mark(offset))
        << "source offset " << offset;
  }
  // Between the marks the source is a hole: zeros.
  EXPECT_EQ(ReadSetAt(base, kHeaderLength + 3000000000u, kMarkLength),
            std::string(kMarkLength, '\0'));

  // The segments for the way back: the joiner writes big.bin beside them.
  std::filesystem::remove(folder.Unix("data/big.bin"));
  wine::Start join = wine::Plainly(folder.Dos("tools/Morvel.exe"), {folder.Dos("tools/big.bin.1")},
                                   folder.Unix("data"));
  join.timeout_seconds = 900;
  run = wine::Run(build, join);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, expected::kJoinerBanner +
                            joiner::Joined("big.bin", "big.bin", folder.Dos("tools") + "\\", 3) +
                            expected::kClosing);
  EXPECT_EQ(std::filesystem::file_size(base), kSourceSize);
  for (std::uint64_t offset : kMarkOffsets) {
    EXPECT_EQ(ReadAt(base, offset, kMarkLength), Mark(offset)) << "offset " << offset;
  }
}

}  // namespace
