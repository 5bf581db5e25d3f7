// Files that were only read, closed a batch at a time: where every call
// into the system is dear, closing a run of them in one call saves one call
// per file when many small files are read one after another.
#pragma once

#include <cstddef>

#include "platform/platform.h"

inline constexpr std::size_t kClosingBatchSize = 64;

// Holds at most kClosingBatchSize open files; well inside any limit on open
// files, so opening the next one never fails for want of a descriptor.
struct ClosingBatch {
  platform::FileHandle files[kClosingBatchSize];
  std::size_t count = 0;
};

// Takes `file` to be closed later; closes the whole batch when it is full.
void CloseSoon(ClosingBatch& batch, platform::FileHandle file);
// Closes every file the batch holds.
void CloseBatch(ClosingBatch& batch);
