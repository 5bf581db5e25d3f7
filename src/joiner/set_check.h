// The joiner's start: command line, lookup of the named file, the set base
// path, the header of segment 1 and the completeness of the set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/run_frame.h"
#include "common/segment_format.h"

// The set as the start found it, handed to the joining run.
struct JoinerSet {
  const char* directory_part;  // where the output goes; may be empty
  std::size_t directory_length;
  const char* set_base_path;   // segment k is this followed by k
  platform::Folder folder = platform::kNoFolder;  // the directory part, opened for the run
  // Segment 1, open from the check to the end of its copy, and its header as
  // the check read it. A header cut short inside the stored name still has
  // its count; the run refuses it where it reads the name.
  platform::FileHandle first_segment = platform::kNoFile;
  SegmentHeader header;
  bool header_whole;
  // What the check measured, which the copy holds every member to: when
  // N >= 2, members 1 .. N-1 have first_size bytes and member N last_size.
  std::int32_t segment_count;
  std::uint64_t first_size;
  std::uint64_t last_size;
};

// A segment path of the set, to be opened within the set's folder.
inline platform::FolderPath InSetFolder(const JoinerSet& set, const char* segment_path) {
  return {set.folder, segment_path, set.directory_length};
}

void RequireSegmentArgument(RunFrame& frame, int argc);
void LookUpSet(RunFrame& frame, const char* file_argument, JoinerSet* set);
// At most this many missing members are listed; the probing stops there.
inline constexpr std::int32_t kMaxListedMissing = 1000;

// Opens set base path + "1", which must be a regular file with a signature
// and a count, reads its header and keeps it open in `set`; ends the run
// with the not-first-segment message otherwise. Then lists every missing
// member of 2 .. N (the first kMaxListedMissing of them) and ends the run
// when there is one; then lists every member whose size the format rules
// out and ends the run when there is one. Records the sizes in `set`.
void CheckSetComplete(RunFrame& frame, JoinerSet& set);

// Joiner work buffers, in the order of allocation.
enum JoinerBuffer {
  kSetBasePathBuffer = 1,
  kOutputPathBuffer,
  kSegmentPathBuffer,
  kFoundNameBuffer,
  kDirectoryPartBuffer,
  kScratchBuffer,  // display names
};
