// The block loop that every copy ends in, on whichever platform the tests
// run: exact bytes at any offsets, an early end, and a failure on either
// side told apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>

#include "common/copy_buffer.h"
#include "file_folder_test.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class BlockCopyTest : public FileFolderTest {
 protected:
  void SetUp() override {
    buffer_ = AcquireCopyBuffer();
    ASSERT_NE(buffer_.bytes, nullptr);
  }
  void TearDown() override { ReleaseCopyBuffer(buffer_); }

  platform::CopyBuffer buffer_{};
};

std::string Random(std::size_t size) { return RandomBytes(size, 7); }

struct BlockCase {
  const char* name;
  std::uint64_t from_offset;
  std::uint64_t to_offset;
  std::uint64_t count;
};

void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.name; }

class BlockLoopTest : public BlockCopyTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockLoopTest, CopiesTheRangeOrWhatTheInputHolds) {
  const BlockCase& c = GetParam();
  const std::string source = Random(2 * kCopyBufferSize + 4321);
  Write("in", source);
  const std::string before(c.to_offset, 'h');
  Write("out", before);
  platform::FileHandle in = platform::OpenForReading(Path("in").c_str());
  platform::FileHandle out = OpenToWrite(Path("out"));
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(out));
  ASSERT_TRUE(platform::WriteAt(out, 0, before.data(), before.size()));
  const CopyOutcome outcome =
      CopyBlocks(in, c.from_offset, out, c.to_offset, c.count, buffer_);
  platform::CloseFile(in);
  EXPECT_TRUE(platform::CloseFile(out));
  const std::uint64_t held = source.size() - c.from_offset;
  const std::uint64_t expected = c.count < held ? c.count : held;
  EXPECT_EQ(outcome.failure, CopyFailure::kNone);
  EXPECT_EQ(outcome.copied, expected);
  EXPECT_EQ(Read("out"), before + source.substr(c.from_offset, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BlockLoopTest,
    ::testing::Values(BlockCase{"ExactlyOneBuffer", 0, 0, kCopyBufferSize},
                      BlockCase{"ShiftedAcrossBuffers", 3, 17, 2 * kCopyBufferSize + 5},
                      BlockCase{"InputEndsEarly", 100, 0, 4 * kCopyBufferSize},
                      BlockCase{"StartsAtTheEnd", 2 * kCopyBufferSize + 4321, 9, 10},
                      BlockCase{"Nothing", 5, 5, 0}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

// A whole file held to the size a check measured: the same size binds,
// a byte more or less shows, at sizes that take each of the kernel's ways
// (one call for a small file, the pipe for a large one at a shifted
// offset) and the block loop where there is none.
struct WholeCase {
  const char* name;
  std::uint64_t size;       // what the check measured
  std::int64_t difference;  // what the file holds beyond it
  std::uint64_t to_offset;
};

void PrintTo(const WholeCase& c, std::ostream* out) { *out << c.name; }

class WholeFileTest : public BlockCopyTest, public ::testing::WithParamInterface<WholeCase> {};

TEST_P(WholeFileTest, CopiesTheMeasuredSizeAndShowsAChange) {
  const WholeCase& c = GetParam();
  const std::size_t held = static_cast<std::size_t>(static_cast<std::int64_t>(c.size) + c.difference);
  const std::string source = Random(held);
  Write("in", source);
  const std::string before(c.to_offset, 'h');
  Write("out", before);
  platform::FileHandle in = platform::OpenToCopy(Path("in").c_str());
  platform::FileHandle out = OpenToWrite(Path("out"));
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(out));
  ASSERT_TRUE(platform::WriteAt(out, 0, before.data(), before.size()));
  const CopyOutcome outcome = CopyWholeFile(in, out, c.to_offset, c.size, buffer_);
  platform::CloseFile(in);
  EXPECT_TRUE(platform::CloseFile(out));
  EXPECT_EQ(outcome.failure, CopyFailure::kNone);
  if (c.difference == 0) {
    EXPECT_EQ(outcome.copied, c.size);
    EXPECT_EQ(Read("out"), before + source);
  } else if (c.difference < 0) {
    EXPECT_EQ(outcome.copied, held);
  } else {
    EXPECT_EQ(outcome.copied, c.size + 1) << "a longer file must show one byte beyond";
  }
}

constexpr std::uint64_t kSmall = 512;
constexpr std::uint64_t kLarge = 2 * kCopyBufferSize + 4321;

INSTANTIATE_TEST_SUITE_P(
    Sizes, WholeFileTest,
    ::testing::Values(WholeCase{"SmallExact", kSmall, 0, 10}, WholeCase{"SmallLonger", kSmall, 1, 10},
                      WholeCase{"SmallShorter", kSmall, -1, 10},
                      WholeCase{"EmptyExact", 0, 0, 3}, WholeCase{"EmptyLonger", 0, 1, 3},
                      WholeCase{"LargeShiftedExact", kLarge, 0, 17},
                      WholeCase{"LargeShiftedLonger", kLarge, 5000, 17},
                      WholeCase{"LargeShiftedShorter", kLarge, -1, 17},
                      WholeCase{"LargeAlignedExact", kLarge, 0, 4096},
                      WholeCase{"LargeAlignedLonger", kLarge, 1, 4096}),
    [](const ::testing::TestParamInfo<WholeCase>& info) { return info.param.name; });

// A file opened only for writing cannot be read, and one opened only for
// reading cannot be written, on every platform; the loop names the side.
TEST_F(BlockCopyTest, TellsAFailedReadFromAFailedWrite) {
  Write("in", Random(5000));
  Write("other", Random(10));
  platform::FileHandle write_only = OpenToWrite(Path("write_only"));
  platform::FileHandle in = platform::OpenForReading(Path("in").c_str());
  platform::FileHandle read_only = platform::OpenForReading(Path("other").c_str());
  ASSERT_TRUE(platform::IsOpen(write_only) && platform::IsOpen(in) && platform::IsOpen(read_only));

  CopyOutcome unreadable = CopyBlocks(write_only, 0, read_only, 0, 100, buffer_);
  EXPECT_EQ(unreadable.failure, CopyFailure::kRead);
  EXPECT_EQ(unreadable.copied, 0u);
  CopyOutcome unwritable = CopyBlocks(in, 0, read_only, 3, 5000, buffer_);
  EXPECT_EQ(unwritable.failure, CopyFailure::kWrite);
  EXPECT_EQ(unwritable.copied, 0u);
  // The same through the whole copy, whatever the kernel's way refuses.
  EXPECT_EQ(CopyRange(write_only, 0, read_only, 0, 100, buffer_).failure,
            CopyFailure::kRead);
  EXPECT_EQ(CopyRange(in, 0, read_only, 3, 5000, buffer_).failure, CopyFailure::kWrite);

  for (platform::FileHandle file : {write_only, in, read_only}) platform::CloseFile(file);
  EXPECT_EQ(Read("other").size(), 10u);
}

}  // namespace
