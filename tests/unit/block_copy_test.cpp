// The copies on whichever platform the tests run: the block loop that every
// copy ends in and the whole copy through each of the kernel's ways, with
// exact bytes at any offsets, an early end, a whole file held to its
// measured size, and a failure on either side told apart.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "common/copy_buffer.h"
#include "file_folder_test.h"
#include "platform/platform.h"

namespace {

class BlockCopyTest : public FileFolderTest {
 protected:
  void SetUp() override {
    buffer_ = AcquireCopyBuffer();
    ASSERT_NE(buffer_.bytes, nullptr);
  }
  void TearDown() override { ReleaseCopyBuffer(buffer_); }

  platform::CopyBuffer buffer_{};
};

std::string Random(std::size_t size) { return testkit::RandomBytes(size, 7); }

// The ways a copy can go: the block loop alone, and the whole copy with
// each of the kernel's ways first (where there is none, each falls back on
// the block loop at once).
enum class Way { kBlocks, kChosen, kPipe, kFileToFile };
const Way kWays[] = {Way::kBlocks, Way::kChosen, Way::kPipe, Way::kFileToFile};
const char* WayName(Way way) {
  switch (way) {
    case Way::kBlocks: return "Blocks";
    case Way::kChosen: return "Chosen";
    case Way::kPipe: return "Pipe";
    case Way::kFileToFile: return "FileToFile";
  }
  return "";
}

using RangeCase = std::tuple<Way, CopyCase>;

class CopyRangeTest : public BlockCopyTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(CopyRangeTest, CopiesTheRangeOrWhatTheInputHolds) {
  const auto& [way, c] = GetParam();
  const std::string source = Random(kCopySourceSize);
  Write("in", source);
  const std::string before(c.to_offset, 'h');
  platform::FileHandle in = platform::OpenForReading(Path("in").c_str());
  platform::FileHandle out = OpenToWrite(Path("out"));
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(out));
  ASSERT_TRUE(platform::WriteAt(out, 0, before.data(), before.size()));
  const platform::KernelRoute routes[] = {
      platform::KernelRoute::kChosen, platform::KernelRoute::kChosen, platform::KernelRoute::kPipe,
      platform::KernelRoute::kFileToFile};
  const CopyOutcome outcome =
      way == Way::kBlocks ? CopyBlocks(in, c.from_offset, out, c.to_offset, c.count, buffer_)
                          : CopyRange(in, c.from_offset, out, c.to_offset, c.count, buffer_,
                                      routes[static_cast<int>(way)]);
  platform::CloseFile(in);
  EXPECT_TRUE(platform::CloseFile(out));
  EXPECT_EQ(outcome.failure, CopyFailure::kNone);
  EXPECT_EQ(outcome.copied, CopiedBy(c));
  EXPECT_EQ(Read("out"), before + source.substr(c.from_offset, CopiedBy(c)));
}

INSTANTIATE_TEST_SUITE_P(Ranges, CopyRangeTest,
                         ::testing::Combine(::testing::ValuesIn(kWays),
                                            ::testing::ValuesIn(kCopyCases)),
                         [](const ::testing::TestParamInfo<RangeCase>& info) {
                           return std::string(WayName(std::get<0>(info.param))) +
                                  std::get<1>(info.param).name;
                         });

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
