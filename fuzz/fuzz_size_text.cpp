// SegmentSizeFromText against a plain reading of the same rule: leading
// white space, one optional sign, decimal digits; valid when the whole text
// is at most 10 bytes and the number lies in 512 .. 2000000000.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/segment_format.h"
#include "fuzz_check.h"
#include "splitter/splitter_settings.h"

namespace {

struct Reading {
  bool negative;
  std::string digits;  // without leading zeros; empty for zero
};

Reading ReadLikeAPerson(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::string_view(" \t\n\v\f\r").find(text[i]) != std::string_view::npos) {
    ++i;
  }
  Reading reading{false, {}};
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) reading.negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (reading.digits.empty() && text[i] == '0') continue;
    reading.digits.push_back(text[i]);
  }
  return reading;
}

// Compares a digit string without leading zeros with a positive number.
int CompareDigits(const std::string& digits, std::int64_t number) {
  const std::string other = std::to_string(number);
  if (digits.size() != other.size()) return digits.size() < other.size() ? -1 : 1;
  return digits.compare(other) < 0 ? -1 : digits.compare(other) > 0 ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const SizeFromText size_read = SegmentSizeFromText(text);
  const Reading reading = ReadLikeAPerson(text);

  const bool in_range = !reading.negative && CompareDigits(reading.digits, kMinSegmentSize) >= 0 &&
                        CompareDigits(reading.digits, kMaxSegmentSize) <= 0;
  const bool expected_valid = size <= kMaxSizeTextLength && in_range;
  FUZZ_REQUIRE(size_read.valid == expected_valid);
  if (size_read.valid) {
    FUZZ_REQUIRE(size <= kMaxSizeTextLength);
    FUZZ_REQUIRE(size_read.number >= kMinSegmentSize && size_read.number <= kMaxSegmentSize);
  }
  // Wherever the number is small enough to hold exactly, it is the number read.
  if (reading.digits.size() <= 12) {
    const std::int64_t magnitude = reading.digits.empty() ? 0 : std::stoll(reading.digits);
    FUZZ_REQUIRE(size_read.number == (reading.negative ? -magnitude : magnitude));
  } else {
    // Longer runs stay far out of range on their own side of zero.
    FUZZ_REQUIRE(reading.negative ? size_read.number < -std::int64_t{kMaxSegmentSize}
                                  : size_read.number > kMaxSegmentSize);
  }
  return 0;
}
