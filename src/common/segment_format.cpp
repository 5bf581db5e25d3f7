#include "common/segment_format.h"

#include <cstring>
#include <limits>

#include "common/work_buffers.h"

bool SegmentCountFor(std::uint64_t source_size, std::size_t name_length,
                     std::int32_t segment_size, std::int32_t* count) {
  const std::uint64_t header = HeaderLength(name_length);
  if (segment_size <= 0 || source_size > std::numeric_limits<std::uint64_t>::max() - header) {
    return false;
  }
  // The quotient is judged before the + 1, which would wrap to 0 when the
  // sum is the largest 64-bit value and the segment size is 1.
  const std::uint64_t full_segments =
      (source_size + header) / static_cast<std::uint64_t>(segment_size);
  if (full_segments >= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;
  }
  *count = static_cast<std::int32_t>(full_segments + 1);
  return true;
}

std::size_t EncodeSegmentHeader(std::int32_t count, const char* name, unsigned char* out) {
  const std::size_t name_length = std::strlen(name);
  std::memcpy(out, kSegmentSignature, kSignatureLength);
  const auto bits = static_cast<std::uint32_t>(count);
  for (int i = 0; i < 4; ++i) out[5 + i] = static_cast<unsigned char>(bits >> (8 * i));
  out[9] = static_cast<unsigned char>(name_length & 0xFF);
  std::memcpy(out + kHeaderFixedLength, name, name_length);
  return HeaderLength(name_length);
}

HeaderCheck DecodeSegmentStart(const unsigned char* bytes, std::size_t size, std::int32_t* count) {
  if (size < kSignatureLength + 4 ||
      std::memcmp(bytes, kSegmentSignature, kSignatureLength) != 0) {
    return HeaderCheck::kNotFirstSegment;
  }
  std::uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(bytes[5 + i]) << (8 * i);
  std::int32_t value;
  std::memcpy(&value, &bits, sizeof value);  // two's complement, no overflow
  *count = value;
  return HeaderCheck::kValid;
}

HeaderCheck DecodeSegmentHeader(const unsigned char* bytes, std::size_t size,
                                SegmentHeader* header) {
  if (DecodeSegmentStart(bytes, size, &header->segment_count) != HeaderCheck::kValid ||
      size < kHeaderFixedLength) {
    return HeaderCheck::kNotFirstSegment;
  }
  header->name_length = bytes[9];
  if (size < HeaderLength(header->name_length)) return HeaderCheck::kNotFirstSegment;
  std::memcpy(header->name, bytes + kHeaderFixedLength, header->name_length);
  header->name[header->name_length] = '\0';
  return HeaderCheck::kValid;
}

bool ComposeSegmentPath(char* buffer, const char* set_base_path, std::int32_t k) {
  return CopyText(buffer, set_base_path) && AppendNumber(buffer, k);
}

std::int64_t ReadHeaderBytes(platform::FileHandle file, unsigned char* bytes) {
  std::size_t have = 0;
  while (have < kMaxHeaderLength) {
    std::int64_t got = platform::ReadAt(file, have, bytes + have, kMaxHeaderLength - have);
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(have);
}
