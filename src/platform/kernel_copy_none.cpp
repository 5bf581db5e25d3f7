// Where the kernel has no way of its own to move file bytes, the block loop
// of the copy does all the work: no pipe, and every kernel copy is refused.
#include "platform/platform.h"

namespace platform {

CopyPipe OpenCopyPipe(std::size_t /*capacity*/) { return CopyPipe{}; }

void CloseCopyPipe(CopyPipe /*pipe*/) {}

KernelCopyResult KernelCopy(FileHandle /*from*/, std::uint64_t /*from_offset*/,
                            FileHandle /*to*/, std::uint64_t /*to_offset*/, std::uint64_t count,
                            const CopyBuffer& /*buffer*/, KernelRoute /*route*/) {
  return {0, count == 0 ? KernelStop::kFinished : KernelStop::kRefused};
}

}  // namespace platform
