// The kernel's own ways of moving file bytes (Linux: splice through a pipe,
// copy_file_range). Systems without them build kernel_copy_none.cpp, where
// the block loop does all the work.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_internal.h"

namespace platform {

CopyPipe OpenCopyPipe(std::size_t capacity) {
  CopyPipe pipe;
  int ends[2];
  // Non-blocking: a copy never waits on its own pipe, whatever is left in it.
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return pipe;
  pipe.read_end = FileHandle{ends[0]};
  pipe.write_end = FileHandle{ends[1]};
  // A small pipe moves a few pages per pair of calls; when the system
  // allows no more (pipe-max-size, a user's pipe quota), it still works.
  int size = fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(capacity));
  if (size < 0) size = fcntl(ends[1], F_GETPIPE_SZ);
  pipe.capacity = size > 0 ? static_cast<std::size_t>(size) : 0;
  if (pipe.capacity == 0) {
    CloseCopyPipe(pipe);
    return CopyPipe{};
  }
  return pipe;
}

void CloseCopyPipe(CopyPipe pipe) {
  if (IsOpen(pipe.read_end)) close(posix::Descriptor(pipe.read_end));
  if (IsOpen(pipe.write_end)) close(posix::Descriptor(pipe.write_end));
}

namespace {

// An error that means "not here" rather than "it went wrong": the plain
// reads and writes then do the work.
KernelStop StopFor(int error) {
  switch (error) {
    case EXDEV:
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
    case ESPIPE:
    case EBADF:
      return KernelStop::kRefused;
    default:
      return KernelStop::kFailed;
  }
}

std::size_t Request(std::uint64_t left, std::size_t limit) {
  return static_cast<std::size_t>(left < limit ? left : limit);
}

// File to file in one call per gigabyte.
KernelCopyResult FileToFile(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                            std::uint64_t count) {
  KernelCopyResult result{0, KernelStop::kFinished};
  while (result.copied < count) {
    loff_t in_offset = static_cast<loff_t>(from_offset + result.copied);
    loff_t out_offset = static_cast<loff_t>(to_offset + result.copied);
    const std::size_t asked = Request(count - result.copied, posix::kMaxRequest);
    ssize_t moved = copy_file_range(from, &in_offset, to, &out_offset,
                                    asked, 0);
    if (moved > 0) {
      result.copied += static_cast<std::uint64_t>(moved);
      // Short means the end on a regular file; the caller confirms it where
      // it must, and needs no call here that finds nothing.
      if (static_cast<std::size_t>(moved) < asked) {
        result.stop = KernelStop::kEnded;
        break;
      }
    } else if (moved == 0) {
      result.stop = KernelStop::kEnded;
      break;
    } else if (errno != EINTR) {
      result.stop = StopFor(errno);
      break;
    }
  }
  return result;
}

// Empties the pipe after a failed write left bytes in it, so that the next
// copy starts from an empty pipe.
bool DrainPipe(int pipe_read, const CopyBuffer& buffer) {
  for (;;) {
    ssize_t got = read(pipe_read, buffer.bytes, buffer.size);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && errno == EAGAIN;
  }
}

// Pages of the input into the pipe by reference, then from the pipe into
// the target: one copy of the bytes, as with copy_file_range, but without
// its extra cost when the two offsets do not line up on a page.
KernelCopyResult ThroughPipe(int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
                             std::uint64_t count, const CopyBuffer& buffer) {
  KernelCopyResult result{0, KernelStop::kFinished};
  const int pipe_read = posix::Descriptor(buffer.pipe.read_end);
  const int pipe_write = posix::Descriptor(buffer.pipe.write_end);
  if (buffer.pipe.capacity == 0) return {0, KernelStop::kRefused};
  while (result.copied < count) {
    loff_t in_offset = static_cast<loff_t>(from_offset + result.copied);
    ssize_t filled = splice(from, &in_offset, pipe_write, nullptr,
                            Request(count - result.copied, buffer.pipe.capacity), SPLICE_F_MOVE);
    if (filled < 0 && errno == EINTR) continue;
    if (filled <= 0) {
      result.stop = filled == 0 ? KernelStop::kEnded : StopFor(errno);
      break;
    }
    auto held = static_cast<std::size_t>(filled);
    while (held > 0) {
      loff_t out_offset = static_cast<loff_t>(to_offset + result.copied);
      ssize_t put = splice(pipe_read, nullptr, to, &out_offset, held, SPLICE_F_MOVE);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        result.stop = put == 0 ? KernelStop::kFailed : StopFor(errno);
        if (!DrainPipe(pipe_read, buffer)) result.stop = KernelStop::kFailed;
        return result;
      }
      held -= static_cast<std::size_t>(put);
      result.copied += static_cast<std::uint64_t>(put);
    }
  }
  return result;
}

// Chosen by measurement on ext4 and tmpfs (README, Performance):
// copy_file_range where both offsets lie alike within a page (the kernel
// copies whole pages, or shares them where the file system can) and for
// copies of a few pages, where its single call beats the pipe's two; the
// pipe for large copies at offsets a header apart, where copy_file_range
// pays for partial pages.
constexpr std::uint64_t kSmallCopy = std::uint64_t{64} << 10;

KernelRoute ChooseRoute(std::uint64_t from_offset, std::uint64_t to_offset, std::uint64_t count) {
  static const long page = sysconf(_SC_PAGESIZE);  // asked once: it never changes
  const auto page_size = static_cast<std::uint64_t>(page > 0 ? page : 4096);
  if (count <= kSmallCopy || from_offset % page_size == to_offset % page_size) {
    return KernelRoute::kFileToFile;
  }
  return KernelRoute::kPipe;
}

}  // namespace

KernelCopyResult KernelCopy(FileHandle from, std::uint64_t from_offset, FileHandle to,
                            std::uint64_t to_offset, std::uint64_t count, const CopyBuffer& buffer,
                            KernelRoute route) {
  if (count == 0) return {0, KernelStop::kFinished};
  const bool chosen = route == KernelRoute::kChosen;
  if (chosen) route = ChooseRoute(from_offset, to_offset, count);
  if (route == KernelRoute::kPipe) {
    return ThroughPipe(posix::Descriptor(from), from_offset, posix::Descriptor(to), to_offset, count, buffer);
  }
  KernelCopyResult result =
      FileToFile(posix::Descriptor(from), from_offset, posix::Descriptor(to), to_offset, count);
  if (!chosen || result.stop != KernelStop::kRefused) return result;
  // copy_file_range refuses two file systems (EXDEV); splice does not mind.
  KernelCopyResult rest = ThroughPipe(posix::Descriptor(from), from_offset + result.copied,
                                      posix::Descriptor(to), to_offset + result.copied,
                                      count - result.copied, buffer);
  return {result.copied + rest.copied, rest.stop};
}

}  // namespace platform
