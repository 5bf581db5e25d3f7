#include "common/closing_batch.h"

void CloseSoon(ClosingBatch& batch, platform::FileHandle file) {
  batch.files[batch.count++] = file;
  if (batch.count == kClosingBatchSize) CloseBatch(batch);
}

void CloseBatch(ClosingBatch& batch) {
  platform::CloseReadFiles(batch.files, batch.count);
  batch.count = 0;
}
