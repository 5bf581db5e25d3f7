// The segment header reader on arbitrary first-segment bytes: it accepts
// exactly the headers whose signature, count, length and name all lie
// inside the bytes given, reads nothing beyond them, and a header it
// accepts encodes back to the same bytes. The last 14 bytes also drive the
// segment count, checked against 128-bit arithmetic.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "common/segment_format.h"
#include "fuzz_check.h"

namespace {

void CheckDecoding(const unsigned char* bytes, std::size_t size) {
  const bool signed_start = size >= 9 && std::memcmp(bytes, "tavex", 5) == 0;

  std::int32_t count = 0x5a5a5a5a;
  const HeaderCheck start = DecodeSegmentStart(bytes, size, &count);
  FUZZ_REQUIRE((start == HeaderCheck::kValid) == signed_start);
  if (!signed_start) return;
  const std::uint32_t bits = std::uint32_t{bytes[5]} | std::uint32_t{bytes[6]} << 8 |
                             std::uint32_t{bytes[7]} << 16 | std::uint32_t{bytes[8]} << 24;
  FUZZ_REQUIRE(static_cast<std::uint32_t>(count) == bits);

  SegmentHeader header;
  std::memset(&header, 0xa5, sizeof header);
  const HeaderCheck whole = DecodeSegmentHeader(bytes, size, &header);
  const bool complete = size >= 10 && size >= 10 + std::size_t{bytes[9]};
  FUZZ_REQUIRE((whole == HeaderCheck::kValid) == complete);
  if (!complete) return;
  FUZZ_REQUIRE(header.segment_count == count);
  FUZZ_REQUIRE(header.name_length == bytes[9]);
  FUZZ_REQUIRE(std::memcmp(header.name, bytes + 10, header.name_length) == 0);
  FUZZ_REQUIRE(header.name[header.name_length] == '\0');

  // A stored name never holds a NUL (it comes from the file system as a C
  // string), so only such headers can come back byte for byte.
  if (std::memchr(header.name, '\0', header.name_length) != nullptr) return;
  unsigned char encoded[kMaxHeaderLength];
  const std::size_t length = EncodeSegmentHeader(header.segment_count, header.name, encoded);
  FUZZ_REQUIRE(length == HeaderLength(header.name_length));
  FUZZ_REQUIRE(std::memcmp(encoded, bytes, length) == 0);
}

std::uint64_t LittleEndian(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

void CheckCount(const unsigned char* tail) {
  const std::uint64_t source_size = LittleEndian(tail, 8);
  const std::size_t name_length = static_cast<std::size_t>(LittleEndian(tail + 8, 2) & 0x1ff);
  const auto segment_size = static_cast<std::int32_t>(static_cast<std::uint32_t>(LittleEndian(tail + 10, 4)));

  std::int32_t count = -7;
  const bool fits = SegmentCountFor(source_size, name_length, segment_size, &count);
  if (segment_size <= 0) {
    FUZZ_REQUIRE(!fits);
    return;
  }
  const unsigned __int128 expected =
      (static_cast<unsigned __int128>(source_size) + name_length + 10) /
          static_cast<unsigned __int128>(segment_size) + 1;
  FUZZ_REQUIRE(fits == (expected <= static_cast<unsigned __int128>(
                                        std::numeric_limits<std::int32_t>::max())));
  if (fits) FUZZ_REQUIRE(static_cast<unsigned __int128>(count) == expected);
  if (!fits) FUZZ_REQUIRE(count == -7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that any read past them is caught.
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[size]);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  CheckDecoding(bytes.get(), size);
  if (size >= 14) CheckCount(bytes.get() + size - 14);
  return 0;
}
