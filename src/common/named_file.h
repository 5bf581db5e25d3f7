// The file named on the command line, as both programs look it up.
#pragma once

#include "common/run_frame.h"

enum class NamedFile { kFound, kTooLong, kAbsent, kHoldsControlByte };

// Looks up `file_argument` (its last component may hold wildcards) and puts
// the entry's own name into `found_name`, a work buffer. A lookup that could
// not be released is told here and the run goes on; every other outcome is
// the caller's to report, each in its program's words.
NamedFile LookUpNamedFile(const RunFrame& frame, const char* file_argument, char* found_name);
