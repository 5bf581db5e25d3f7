#include "common/copy_buffer.h"

#include <new>

namespace {

constexpr std::align_val_t kPageAlignment{4096};

// Whatever stopped the kernel, plain reads and writes take over where it
// left off: they confirm an end and tell which side failed.
CopyOutcome FinishByBlocks(const platform::KernelCopyResult& kernel,
                                     platform::FileHandle from, std::uint64_t from_offset,
                                     platform::FileHandle to, std::uint64_t to_offset,
                                     std::uint64_t count, const platform::CopyBuffer& buffer) {
  const CopyOutcome rest =
      CopyBlocks(from, from_offset + kernel.copied, to, to_offset + kernel.copied,
                 count - kernel.copied, buffer);
  return {kernel.copied + rest.copied, rest.failure};
}

}  // namespace

platform::CopyBuffer AcquireCopyBuffer() {
  void* block = ::operator new[](kCopyBufferSize, kPageAlignment, std::nothrow);
  if (block == nullptr) return {nullptr, 0, platform::CopyPipe{}};
  return {static_cast<unsigned char*>(block), kCopyBufferSize,
          platform::OpenCopyPipe(kCopyBufferSize)};
}

void ReleaseCopyBuffer(platform::CopyBuffer buffer) {
  platform::CloseCopyPipe(buffer.pipe);
  if (buffer.bytes != nullptr) ::operator delete[](buffer.bytes, kPageAlignment);
}

CopyOutcome CopyRange(platform::FileHandle from, std::uint64_t from_offset,
                                platform::FileHandle to, std::uint64_t to_offset,
                                std::uint64_t count, const platform::CopyBuffer& buffer,
                                platform::KernelRoute route) {
  const platform::KernelCopyResult kernel =
      platform::KernelCopy(from, from_offset, to, to_offset, count, buffer, route);
  if (kernel.stop == platform::KernelStop::kFinished) {
    return {kernel.copied, CopyFailure::kNone};
  }
  return FinishByBlocks(kernel, from, from_offset, to, to_offset, count, buffer);
}

CopyOutcome CopyWholeFile(platform::FileHandle from, platform::FileHandle to,
                                    std::uint64_t to_offset, std::uint64_t size,
                                    const platform::CopyBuffer& buffer) {
  const std::uint64_t asked = size + 1;
  const platform::KernelCopyResult kernel = platform::KernelCopy(
      from, 0, to, to_offset, asked, buffer, platform::KernelRoute::kChosen);
  const bool ended_at_size = kernel.stop == platform::KernelStop::kEnded && kernel.copied == size;
  if (ended_at_size || kernel.stop == platform::KernelStop::kFinished) {
    return {kernel.copied, CopyFailure::kNone};
  }
  return FinishByBlocks(kernel, from, 0, to, to_offset, asked, buffer);
}

CopyOutcome CopyBlocks(platform::FileHandle from, std::uint64_t from_offset,
                                 platform::FileHandle to, std::uint64_t to_offset,
                                 std::uint64_t count, const platform::CopyBuffer& buffer) {
  CopyOutcome outcome{0, CopyFailure::kNone};
  while (outcome.copied < count) {
    const std::uint64_t left = count - outcome.copied;
    const std::size_t want = left < buffer.size ? static_cast<std::size_t>(left) : buffer.size;
    const std::int64_t got =
        platform::ReadAt(from, from_offset + outcome.copied, buffer.bytes, want);
    if (got < 0) {
      outcome.failure = CopyFailure::kRead;
      break;
    }
    if (got == 0) break;  // the input ended early
    if (!platform::WriteAt(to, to_offset + outcome.copied, buffer.bytes,
                           static_cast<std::size_t>(got))) {
      outcome.failure = CopyFailure::kWrite;
      break;
    }
    outcome.copied += static_cast<std::uint64_t>(got);
  }
  return outcome;
}
