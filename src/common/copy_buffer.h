// The one way both programs copy between two open files: the kernel's own
// path where the platform has one, then a loop of block reads and writes
// through one buffer, the same on every platform.
#pragma once

#include "platform/platform.h"

inline constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

// Below this many bytes a file's early write-back costs more than it saves:
// the one flush at the end gathers small files into fewer writes (measured
// with 512-byte segments: a third slower with a write-back call for each).
inline constexpr std::uint64_t kEarlyWriteBackSize = std::uint64_t{1} << 20;

// Which side of a copy failed, if one did.
enum class CopyFailure { kNone, kRead, kWrite };
struct CopyOutcome {
  std::uint64_t copied;  // less than asked only when the input ended early
  CopyFailure failure;
};

// A page-aligned buffer of kCopyBufferSize bytes, with the platform's copy
// pipe of the same size where it has one; bytes is null when memory is short.
platform::CopyBuffer AcquireCopyBuffer();
void ReleaseCopyBuffer(platform::CopyBuffer buffer);

// Copies `count` bytes from `from` at `from_offset` to `to` at `to_offset`.
// Copies less only when the input ends early; a failure says which side
// failed, and the bytes before it are in place. `route` picks the kernel's
// way for tests and the engine benchmark; the programs let it choose.
CopyOutcome CopyRange(platform::FileHandle from, std::uint64_t from_offset,
                                platform::FileHandle to, std::uint64_t to_offset,
                                std::uint64_t count, const platform::CopyBuffer& buffer,
                                platform::KernelRoute route = platform::KernelRoute::kChosen);

// Copies a whole file that should hold `size` bytes onto `to` at
// `to_offset`, and learns whether it does without asking for its size: it
// asks for one byte more, so that a transfer stopping at `size` is the end
// (a small file costs one call) and a byte beyond shows that the file grew.
// `copied` is then size + 1; less than `size` means the file shrank.
CopyOutcome CopyWholeFile(platform::FileHandle from, platform::FileHandle to,
                                    std::uint64_t to_offset, std::uint64_t size,
                                    const platform::CopyBuffer& buffer);

// The block loop alone: ReadAt and WriteAt through `buffer`. A read that
// fails is kRead, a write that fails (a full disk too) kWrite, a read that
// finds the end stops the copy.
CopyOutcome CopyBlocks(platform::FileHandle from, std::uint64_t from_offset,
                                 platform::FileHandle to, std::uint64_t to_offset,
                                 std::uint64_t count, const platform::CopyBuffer& buffer);
