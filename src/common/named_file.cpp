#include "common/named_file.h"

#include <cstring>

#include "common/frame_texts.h"
#include "common/stored_names.h"
#include "common/work_buffers.h"

NamedFile LookUpNamedFile(const RunFrame& frame, const char* file_argument, char* found_name) {
  if (std::strlen(file_argument) >= kWorkBufferSize) return NamedFile::kTooLong;
  const platform::EntryLookup lookup =
      platform::FindDirectoryEntry(file_argument, found_name, kWorkBufferSize);
  if (!lookup.found) return NamedFile::kAbsent;
  if (lookup.release_failed) Say(frame, kUnableToCloseFormat, kUnableToCloseHandle);
  // The found name, not the typed one, is what the run names and shows from
  // here on (the segments, the stored name): a control byte in it would
  // reach the terminal on every line that shows it.
  if (HoldsControlByte(found_name)) return NamedFile::kHoldsControlByte;
  return NamedFile::kFound;
}
