// The segment header and the count, checked against worked sizes.
#include "common/segment_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "common/work_buffers.h"

namespace {

struct WorkedSize {
  const char* name;
  std::uint64_t source_size;
  std::int32_t segment_size;
  std::int32_t count;
};

class WorkedSizeTest : public ::testing::TestWithParam<WorkedSize> {};

TEST_P(WorkedSizeTest, CountsSegments) {
  std::int32_t count = 0;
  ASSERT_TRUE(SegmentCountFor(GetParam().source_size, std::strlen(GetParam().name),
                              GetParam().segment_size, &count));
  EXPECT_EQ(count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WorkedSizeTest,
                         ::testing::Values(WorkedSize{"abc.zip", 600, 512, 2},
                                           WorkedSize{"abc.zip", 1440000, 720000, 3},
                                           WorkedSize{"a.bin", 1009, 512, 3},
                                           WorkedSize{"a.bin", 1010, 512, 3},
                                           // beyond 4 GiB: 64-bit sizes all the way
                                           WorkedSize{"a.bin", 5000000000ULL, 1440000, 3473}),
                         [](const ::testing::TestParamInfo<WorkedSize>& info) {
                           return "Source" + std::to_string(info.param.source_size) + "Segment" +
                                  std::to_string(info.param.segment_size);
                         });

TEST(SegmentCount, RefusesACountBeyondTheSignedField) {
  std::int32_t count = 0;
  // 512-byte segments: 2^31 - 1 of them hold just under 1 TiB.
  const std::uint64_t fits = std::uint64_t{512} * 2147483646 - 15;
  EXPECT_TRUE(SegmentCountFor(fits, 5, 512, &count));
  EXPECT_EQ(count, 2147483647);
  EXPECT_FALSE(SegmentCountFor(fits + 512, 5, 512, &count));
  EXPECT_FALSE(SegmentCountFor(std::numeric_limits<std::uint64_t>::max(), 5, 512, &count));
}

TEST(SegmentCount, RefusesACountThatWouldWrapToZero) {
  std::int32_t count = 7;
  // Header and source fill the 64-bit range exactly: with 1-byte segments
  // N would be 2^64, which wraps to 0 in 64 bits.
  EXPECT_FALSE(SegmentCountFor(std::numeric_limits<std::uint64_t>::max() - 10, 0, 1, &count));
  EXPECT_EQ(count, 7);  // left as it was
  // The last count that fits, with 1-byte segments.
  const std::uint64_t fits = std::numeric_limits<std::int32_t>::max() - 1 - 10;
  EXPECT_TRUE(SegmentCountFor(fits, 0, 1, &count));
  EXPECT_EQ(count, std::numeric_limits<std::int32_t>::max());
  EXPECT_FALSE(SegmentCountFor(fits + 1, 0, 1, &count));
}

TEST(SegmentHeader, EncodesSignatureCountLengthAndName) {
  unsigned char bytes[kMaxHeaderLength];
  ASSERT_EQ(EncodeSegmentHeader(0x01020304, "abc.zip", bytes), 17u);
  const unsigned char expected[] = {'t', 'a', 'v', 'e', 'x', 4, 3, 2, 1, 7,
                                    'a', 'b', 'c', '.', 'z', 'i', 'p'};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);
}

TEST(SegmentHeader, RoundTripsANegativeCountAndALongName) {
  unsigned char bytes[kMaxHeaderLength];
  const std::string name(255, '\xe9');  // bytes above 0x7F are stored as they are
  const std::size_t length = EncodeSegmentHeader(-2, name.c_str(), bytes);
  ASSERT_EQ(length, 265u);
  SegmentHeader header{};
  ASSERT_EQ(DecodeSegmentHeader(bytes, length, &header), HeaderCheck::kValid);
  EXPECT_EQ(header.segment_count, -2);
  EXPECT_EQ(header.name_length, 255);
  EXPECT_EQ(std::string(header.name), name);
}

struct ShortHeader {
  const char* name;
  std::string bytes;
  bool start_valid;   // signature and count readable
  bool header_valid;  // name readable too
};

class ShortHeaderTest : public ::testing::TestWithParam<ShortHeader> {};

TEST_P(ShortHeaderTest, IsNoFirstSegment) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(GetParam().bytes.data());
  std::int32_t count = 0;
  SegmentHeader header{};
  EXPECT_EQ(DecodeSegmentStart(bytes, GetParam().bytes.size(), &count) == HeaderCheck::kValid,
            GetParam().start_valid);
  EXPECT_EQ(DecodeSegmentHeader(bytes, GetParam().bytes.size(), &header) == HeaderCheck::kValid,
            GetParam().header_valid);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ShortHeaderTest,
    ::testing::Values(ShortHeader{"Empty", "", false, false},
                      ShortHeader{"FourBytes", "tave", false, false},
                      ShortHeader{"WrongSignature", std::string("taveX\2\0\0\0\0", 10), false,
                                  false},
                      ShortHeader{"EndsInCount", std::string("tavex\2\0", 7), false, false},
                      ShortHeader{"EndsBeforeLength", std::string("tavex\2\0\0\0", 9), true,
                                  false},
                      ShortHeader{"EndsInName", std::string("tavex\2\0\0\0\3ab", 12), true,
                                  false},
                      ShortHeader{"EmptyName", std::string("tavex\2\0\0\0\0", 10), true, true},
                      ShortHeader{"Complete", std::string("tavex\2\0\0\0\3abc", 13), true, true}),
    [](const ::testing::TestParamInfo<ShortHeader>& info) { return info.param.name; });

TEST(SegmentPath, AppendsPlainDecimal) {
  char buffer[kWorkBufferSize];
  ASSERT_TRUE(ComposeSegmentPath(buffer, "C:\\tools\\abc.zip.", 10));
  EXPECT_STREQ(buffer, "C:\\tools\\abc.zip.10");
  ASSERT_TRUE(ComposeSegmentPath(buffer, "x.", 2147483647));
  EXPECT_STREQ(buffer, "x.2147483647");
}

TEST(SegmentPath, RefusesWhatDoesNotFitAWorkBuffer) {
  char buffer[kWorkBufferSize];
  const std::string base(kWorkBufferSize - 2, 'a');  // 510 bytes: room for one digit
  EXPECT_TRUE(ComposeSegmentPath(buffer, base.c_str(), 9));
  EXPECT_FALSE(ComposeSegmentPath(buffer, base.c_str(), 10));
}

}  // namespace
