#include "common/copy_buffer.h"

#include <new>

namespace {
constexpr std::align_val_t kPageAlignment{4096};
}

platform::CopyBuffer AcquireCopyBuffer() {
  void* block = ::operator new[](kCopyBufferSize, kPageAlignment, std::nothrow);
  return {static_cast<unsigned char*>(block), block != nullptr ? kCopyBufferSize : 0};
}

void ReleaseCopyBuffer(platform::CopyBuffer buffer) {
  if (buffer.bytes != nullptr) ::operator delete[](buffer.bytes, kPageAlignment);
}
