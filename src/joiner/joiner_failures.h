// Every failure ending of the joiner: each prints its lines, then the abort
// notice, releases the work buffers and takes the failure ending of the run
// frame (closing prompt, one key, exit status 1). The out-of-memory ending
// and a refused overwrite belong to the frame itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/run_frame.h"

// No file name on the command line: the usage text.
[[noreturn]] void FailNoFileArgument(RunFrame& frame);
// A command-line word or a composed path does not fit a work buffer.
[[noreturn]] void FailPathTooLong(RunFrame& frame);
// The named file is not there.
[[noreturn]] void FailSegmentNotFound(RunFrame& frame);
// The name the lookup found holds a control byte; it is shown escaped.
[[noreturn]] void FailFoundNameHoldsControlByte(RunFrame& frame, const char* found_name);
// The named file is not segment 1 of a set: no such file, no regular file,
// no signature or a header cut short.
[[noreturn]] void FailNotFirstSegment(RunFrame& frame);

// One line for each member that is not there or whose size the format rules
// out; then the summary that ends the run.
void ListMissingMember(const RunFrame& frame, const char* display_name);
void ListMisfitMember(const RunFrame& frame, const char* display_name);
// The line that ends a list cut short, with the count of segment 1.
void ListMissingCut(const RunFrame& frame, std::int32_t segment_count);
[[noreturn]] void FailMissingMembers(RunFrame& frame);
[[noreturn]] void FailMisfitMembers(RunFrame& frame);

// The stored name (`length` bytes as the header holds them) is no plain file
// name; it is shown escaped.
[[noreturn]] void FailNameNotPlain(RunFrame& frame, const char* name, std::size_t length);
[[noreturn]] void FailOutputIsSegment(RunFrame& frame, const char* output_path);
[[noreturn]] void FailOutputNotRegular(RunFrame& frame, const char* output_path);
[[noreturn]] void FailCannotCreateOutput(RunFrame& frame);
// A member that passed the check is gone or differs during the copy.
[[noreturn]] void FailCannotOpenSegment(RunFrame& frame, const char* display_name);
[[noreturn]] void FailSegmentChanged(RunFrame& frame, const char* display_name);
[[noreturn]] void FailCannotReadSegment(RunFrame& frame, const char* display_name);
// Writing, flushing, closing or renaming the output failed.
[[noreturn]] void FailCannotWriteOutput(RunFrame& frame, const char* output_path);
// A file was made at the output's name, free when the run looked, while the
// set was being bound; it is kept.
[[noreturn]] void FailOutputAppeared(RunFrame& frame, const char* output_path);
// The disk ran out of room for the new output beside the old one, which is kept.
[[noreturn]] void FailNoRoomBesideOld(RunFrame& frame, const char* output_path);
