// The segment set: numbered files whose concatenation is a short header and
// every byte of the source file. Only segment 1 carries the header:
//   offset 0  5 bytes  signature "tavex"
//   offset 5  4 bytes  segment count N, signed, little-endian
//   offset 9  1 byte   name length L
//   offset 10 L bytes  stored name, no terminator
// Segment k's path is the set base path (ending in '.') followed by k.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

inline constexpr char kSegmentSignature[] = {'t', 'a', 'v', 'e', 'x'};
inline constexpr std::size_t kSignatureLength = sizeof kSegmentSignature;
inline constexpr std::size_t kHeaderFixedLength = 10;
inline constexpr std::size_t kMaxStoredNameLength = 255;
inline constexpr std::size_t kMaxHeaderLength = kHeaderFixedLength + kMaxStoredNameLength;

inline constexpr std::int32_t kMinSegmentSize = 512;
inline constexpr std::int32_t kMaxSegmentSize = 2000000000;
inline constexpr std::int32_t kDefaultSegmentSize = 1440000;

struct SegmentHeader {
  std::int32_t segment_count;  // signed: a header may hold a negative one
  std::uint8_t name_length;
  char name[kMaxStoredNameLength + 1];  // NUL-terminated
};

inline std::size_t HeaderLength(std::size_t name_length) {
  return kHeaderFixedLength + name_length;
}

// N = (L + 10 + S) / segment size + 1, held in 64 bits; false when N does
// not fit the header's 32-bit signed field.
bool SegmentCountFor(std::uint64_t source_size, std::size_t name_length,
                     std::int32_t segment_size, std::int32_t* count);

// Writes the header for `name` (at most 255 bytes) into `out`, which holds
// kMaxHeaderLength bytes; returns its length, L + 10.
std::size_t EncodeSegmentHeader(std::int32_t count, const char* name, unsigned char* out);

enum class HeaderCheck { kValid, kNotFirstSegment };
// The signature and the count; a file shorter than 9 bytes is no first segment.
HeaderCheck DecodeSegmentStart(const unsigned char* bytes, std::size_t size, std::int32_t* count);
// The whole header; a file that ends inside the name is no first segment.
HeaderCheck DecodeSegmentHeader(const unsigned char* bytes, std::size_t size,
                                SegmentHeader* header);

// set base path + k in decimal; false when it does not fit a work buffer.
bool ComposeSegmentPath(char* buffer, const char* set_base_path, std::int32_t k);

// Reads the first kMaxHeaderLength bytes of a file (fewer when it is
// shorter): the count read, -1 on a read error.
std::int64_t ReadHeaderBytes(platform::FileHandle file, unsigned char* bytes);
