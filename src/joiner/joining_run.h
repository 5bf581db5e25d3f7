// The joining run: the stored name from the header, the overwrite question,
// the output in the folder of the segments, the copy, the summary.
#pragma once

#include "common/run_frame.h"
#include "joiner/set_check.h"

// Ends the run itself on every failure; returns after the summary.
void JoinSegments(RunFrame& frame, const JoinerSet& set);
