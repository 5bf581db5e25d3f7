// The one block buffer a run copies through when the kernel cannot copy
// between files by itself.
#pragma once

#include "platform/platform.h"

inline constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

// A page-aligned buffer of kCopyBufferSize bytes; bytes is null when memory
// is short.
platform::CopyBuffer AcquireCopyBuffer();
void ReleaseCopyBuffer(platform::CopyBuffer buffer);
