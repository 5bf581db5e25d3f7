// The splitting run: measure the input, refuse a file that fits one segment,
// guard an existing set, write the header and the segments, report.
#pragma once

#include "common/run_frame.h"
#include "splitter/splitter_settings.h"

// Ends the run itself on every failure; returns after the summary.
void SplitInput(RunFrame& frame, const SplitterSettings& settings);
