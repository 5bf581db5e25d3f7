// The joiner's start: command line, lookup of the named file, the set base
// path, the header of segment 1 and the completeness of the set.
#pragma once

#include <cstdint>

#include "common/run_frame.h"

// The set as the start found it, handed to the joining run.
struct JoinerSet {
  const char* directory_part;  // where the output goes; may be empty
  const char* set_base_path;   // segment k is this followed by k
  platform::Folder folder = platform::kNoFolder;  // the directory part, opened for the run
  // What the check measured, which the copy holds every member to: when
  // N >= 2, members 1 .. N-1 have first_size bytes and member N last_size.
  std::int32_t segment_count;
  std::uint64_t first_size;
  std::uint64_t last_size;
};

struct FirstSegment {
  platform::FileHandle file;
  std::int32_t segment_count;
  std::uint64_t size;
};

// A segment path of the set, to be opened within the set's folder.
platform::FolderPath InSetFolder(const JoinerSet& set, const char* segment_path);

void RequireSegmentArgument(RunFrame& frame, int argc);
void LookUpSet(RunFrame& frame, const char* file_argument, JoinerSet* set);
// Opens set base path + "1", a regular file, and checks its signature; on
// failure it prints the not-first-segment message and ends the run.
FirstSegment OpenFirstSegment(RunFrame& frame, const JoinerSet& set);
// At most this many missing members are listed; the probing stops there.
inline constexpr std::int32_t kMaxListedMissing = 1000;

// Lists every missing member of 1 .. N (the first kMaxListedMissing of
// them) and ends the run when there is one;
// then lists every member whose size the format rules out and ends the run
// when there is one. Records the sizes in `set`.
void CheckSetComplete(RunFrame& frame, JoinerSet& set);

// Joiner work buffers, in the order of allocation.
enum JoinerBuffer {
  kSetBasePathBuffer = 1,
  kOutputPathBuffer,  // the stored name, then the output path
  kSegmentPathBuffer,
  kFoundNameBuffer,  // the found name, then the temporary output path
  kDirectoryPartBuffer,
  kScratchBuffer,  // the stored name while the output path is composed, then display names
};
