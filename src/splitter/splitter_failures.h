// Every failure ending of the splitter: each prints its lines, releases the
// work buffers and takes the failure ending of the run frame (closing
// prompt, one key, exit status 1). The out-of-memory ending and a refused
// overwrite belong to the frame itself.
#pragma once

#include <cstdint>

#include "common/run_frame.h"

// No file name on the command line: the usage text and the abort notice.
[[noreturn]] void FailNoFileArgument(RunFrame& frame);
// A command-line word or a composed path does not fit a work buffer.
[[noreturn]] void FailPathTooLong(RunFrame& frame);
// The input is not there or cannot be opened.
[[noreturn]] void FailInputNotFound(RunFrame& frame);
// The input's name holds a control byte; it is shown escaped.
[[noreturn]] void FailNameHoldsControlByte(RunFrame& frame, const char* name);
// A line of the configuration file breaks the grammar.
[[noreturn]] void FailConfigurationGrammar(RunFrame& frame);

// The input's name does not fit the header.
[[noreturn]] void FailNameTooLong(RunFrame& frame);
// The input is a FIFO, a socket or a character device.
[[noreturn]] void FailInputNotRegular(RunFrame& frame, const char* input_path);
// The input fits in one segment: nothing is cut.
[[noreturn]] void FailFitsOneSegment(RunFrame& frame);
// The segment count would not fit the header.
[[noreturn]] void FailTooManySegments(RunFrame& frame);
// Something that is not a regular file lies at a segment's name.
[[noreturn]] void FailSegmentNotRegular(RunFrame& frame, const char* segment_path);
// A segment's name reaches the input itself.
[[noreturn]] void FailSegmentIsInput(RunFrame& frame, const char* segment_path);
// Segment k cannot be created; segment 1 says so with one blank more.
[[noreturn]] void FailCannotCreateSegment(RunFrame& frame, std::int32_t k);
[[noreturn]] void FailCannotWriteSegment(RunFrame& frame, const char* segment_path);
[[noreturn]] void FailCannotReadInput(RunFrame& frame, const char* input_path);
// The input grew or shrank while it was being cut.
[[noreturn]] void FailInputChanged(RunFrame& frame);
