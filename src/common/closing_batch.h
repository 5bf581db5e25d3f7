// Files that were only read, closed a batch at a time: where every call
// into the system is dear, closing a run of them in one call saves one call
// per file when many small files are read one after another.
#pragma once

#include <cstddef>

#include "platform/platform.h"

inline constexpr std::size_t kClosingBatchSize = 64;

// Holds at most `limit` open files: a quarter of what the process may hold
// open, and at most kClosingBatchSize, so that the run's own files never
// make the next open fail for want of a descriptor under a low limit.
struct ClosingBatch {
  platform::FileHandle files[kClosingBatchSize];
  std::size_t count = 0;
  std::size_t limit = ClosingBatchLimit(platform::OpenFilesAllowed());

  static std::size_t ClosingBatchLimit(std::size_t open_files_allowed) {
    const std::size_t quarter = open_files_allowed / 4;
    return quarter < 1 ? 1 : quarter < kClosingBatchSize ? quarter : kClosingBatchSize;
  }
};

// Takes `file` to be closed later; closes the whole batch when it is full.
void CloseSoon(ClosingBatch& batch, platform::FileHandle file);
// Closes every file the batch holds.
void CloseBatch(ClosingBatch& batch);
// After an open that failed: when it failed for want of a descriptor and the
// batch held some, they are closed and true says the open is worth a retry.
bool MadeRoomToOpen(ClosingBatch& batch);
