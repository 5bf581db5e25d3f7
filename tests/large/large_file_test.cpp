// Files beyond 4 GiB: sizes, offsets and counts stay 64-bit from end to end,
// and memory stays small however large the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench.h"

namespace {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr std::uint64_t kInputSize = kFourGiB + 1000;
constexpr std::int64_t kSegmentSize = 1000000000;
// The programs stay under 8 MiB; a sanitizer build (the tests are built with
// the same flags as the programs) adds its shadow memory on top.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryLimitKib = 64 * 1024;
#else
constexpr long kMemoryLimitKib = 8 * 1024;
#endif

struct Marker {
  std::uint64_t offset;
  std::string bytes;
};

// Marks placed where 32-bit arithmetic would go wrong: across 2 GiB, across
// 4 GiB and at the very end.
const std::vector<Marker> kMarkers = {
    {0, "first bytes"},
    {(std::uint64_t{1} << 31) - 5, "across 2 GiB"},
    {kFourGiB - 6, "across 4 GiB"},
    {kInputSize - 8, "the end!"},
};

bool WriteAt(int fd, std::uint64_t offset, const std::string& bytes) {
  return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
         static_cast<ssize_t>(bytes.size());
}

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t size) {
  int fd = open(path.c_str(), O_RDONLY);
  std::string bytes(size, '\0');
  ssize_t got = fd < 0 ? -1 : pread(fd, bytes.data(), size, static_cast<off_t>(offset));
  if (fd >= 0) close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return bytes;
}

std::uint64_t SizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

TEST(LargeFile, SplitsAndJoinsAFileOfOverFourGiB) {
  harness::Bench bench;
  const std::string input = bench.data + "big.bin";
  {
    int fd = open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    bool written = ftruncate(fd, static_cast<off_t>(kInputSize)) == 0;  // sparse
    for (const Marker& marker : kMarkers)
      written = written && WriteAt(fd, marker.offset, marker.bytes);
    close(fd);
    ASSERT_TRUE(written);
  }

  harness::ProgramRun split = bench.Splitter({"big.bin", std::to_string(kSegmentSize)});
  split.timeout_seconds = 600;
  harness::RunOutcome splitting = harness::Run(split);
  ASSERT_EQ(splitting.exit_status, 0) << splitting.output;
  EXPECT_NE(splitting.output.find("  Total number of segment files: 5\n"), std::string::npos);
  EXPECT_LT(splitting.max_rss_kib, kMemoryLimitKib);

  // 17 header bytes + 4 GiB + 1000: four full segments and the rest.
  const std::uint64_t header = 17;
  const std::uint64_t total = header + kInputSize;
  for (int k = 1; k <= 5; ++k) {
    const std::uint64_t expected = k < 5 ? kSegmentSize : total - 4 * kSegmentSize;
    EXPECT_EQ(SizeOf(bench.bin + "big.bin." + std::to_string(k)), expected) << k;
  }
  EXPECT_EQ(ReadAt(bench.bin + "big.bin.1", 0, 10), std::string("tavex\5\0\0\0\7", 10));
  for (const Marker& marker : kMarkers) {
    // Where the marker lies in the set, and which segment holds its first byte.
    const std::uint64_t at = header + marker.offset;
    const std::uint64_t k = at / kSegmentSize + 1;
    const std::uint64_t within = at % kSegmentSize;
    std::string found =
        ReadAt(bench.bin + "big.bin." + std::to_string(k), within, marker.bytes.size());
    if (found.size() < marker.bytes.size()) {  // runs on into the next segment
      found += ReadAt(bench.bin + "big.bin." + std::to_string(k + 1), 0,
                      marker.bytes.size() - found.size());
    }
    EXPECT_EQ(found, marker.bytes) << marker.offset;
  }
  ASSERT_EQ(unlink(input.c_str()), 0);  // room on the disk for the copy

  harness::ProgramRun join = bench.Joiner({"bin/big.bin.1"});
  join.timeout_seconds = 600;
  harness::RunOutcome joining = harness::Run(join);
  ASSERT_EQ(joining.exit_status, 0) << joining.output;
  EXPECT_NE(joining.output.find("  Total number of files binded: 5\n"), std::string::npos);
  EXPECT_LT(joining.max_rss_kib, kMemoryLimitKib);
  const std::string output = bench.bin + "big.bin";
  EXPECT_EQ(SizeOf(output), kInputSize);
  for (const Marker& marker : kMarkers) {
    EXPECT_EQ(ReadAt(output, marker.offset, marker.bytes.size()), marker.bytes) << marker.offset;
  }
  EXPECT_EQ(ReadAt(output, kFourGiB + 100, 16), std::string(16, '\0'));
}

}  // namespace
