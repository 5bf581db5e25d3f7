#include "common/closing_batch.h"

void CloseSoon(ClosingBatch& batch, platform::FileHandle file) {
  batch.files[batch.count++] = file;
  if (batch.count >= batch.limit) CloseBatch(batch);
}

void CloseBatch(ClosingBatch& batch) {
  platform::CloseReadFiles(batch.files, batch.count);
  batch.count = 0;
}

bool MadeRoomToOpen(ClosingBatch& batch) {
  if (batch.count == 0 || !platform::LastOpenRanOutOfHandles()) return false;
  CloseBatch(batch);
  return true;
}
