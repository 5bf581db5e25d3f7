// The console run frame both programs run in: banner, work buffers, the
// overwrite question and the two endings, each of which waits for one key.
#pragma once

#include <cstddef>

#include "common/path_names.h"
#include "common/work_buffers.h"
#include "platform/platform.h"

// The values in which the two programs' frames differ.
struct FrameProfile {
  const char* program_name;
  const char* tool_text;
  int buffer_count;
  const char* error_header;
  const char* error_header_format;  // of the endings with one detail line
  const char* out_of_memory_format;
  bool abort_notice_after_error;  // after the detail line of such an ending
  const char* overwrite_question;
  const char* acceptance_format;
  const char* acceptance_line;
};

inline constexpr int kMaxRunBuffers = 7;
inline constexpr std::size_t kFramedLineLength = 69;  // line end included
inline constexpr std::size_t kFrameFieldWidth = 57;

struct RunBuffers {
  char* slot[kMaxRunBuffers];
  int allocated;
};

// Replaceable so that a test can make allocation k fail.
struct BufferAllocator {
  void* (*allocate)(std::size_t size);
  void (*release)(void* block);
};

// Everything a run owns from its start to its ending. The key reader and the
// text writer are replaceable so that a test can script the keys and catch
// the text.
struct RunFrame {
  const FrameProfile* profile;
  RunBuffers buffers;
  BufferAllocator allocator;
  int (*read_key)();
  // Writes one whole message; it is on the screen when the call returns.
  void (*write_text)(const char* text, std::size_t size);
  PathRules paths;  // asked of the system once, at the start
};

// A frame that allocates with malloc, reads keys from the console, writes
// to standard output and takes paths apart by the system's rules.
RunFrame MakeRunFrame(const FrameProfile& profile);

// One message: one printf-style call, on the screen when it returns.
void Say(const RunFrame& frame, const char* format, ...) TRENZIK_PRINTF_FORMAT(2, 3);

// One line of a block such as a usage text: its format and its text
// (nullptr: the format is printed alone).
struct FormattedLine {
  const char* format;
  const char* text;
};
void SayLines(const RunFrame& frame, const FormattedLine* lines, std::size_t count);
template <std::size_t N>
void SayLines(const RunFrame& frame, const FormattedLine (&lines)[N]) {
  SayLines(frame, lines, N);
}

// " =====" + text centred in 57 columns (odd blank to the right) + "=====\n".
// `line` receives kFramedLineLength bytes and a NUL.
void FormatFramedLine(const char* text, char* line);
void PrintBanner(const RunFrame& frame);

// Allocates the profile's work buffers 1 .. N in order; on the first failure
// it takes the out-of-memory ending and does not return.
void AllocateRunBuffers(RunFrame& frame);
void ReleaseRunBuffers(RunFrame& frame);
// The out-of-memory ending: FailWithError with the profile's line.
[[noreturn]] void FailOutOfMemory(RunFrame& frame);
// Work buffer k (1-based), in the order the profile allocates them.
inline char* WorkBuffer(RunFrame& frame, int k) { return frame.buffers.slot[k - 1]; }

// Asks before `path` is replaced; returns when it cannot be opened for
// reading or the user accepts, ends the run on refusal.
void PromptOverwrite(RunFrame& frame, const char* path);

enum class AbortNotice { kOmit, kPrint };
// The failure path's close: the abort notice where due, the buffers
// released, then AbortRun.
[[noreturn]] void FailRun(RunFrame& frame, AbortNotice notice);

// The error header as the profile lays it out.
void SayErrorHeader(const RunFrame& frame);
// The usual failure ending: the error header, one detail message (a
// printf-style format and its values), then FailRun with the abort notice
// where the profile prints one after an error.
[[noreturn]] void FailWithError(RunFrame& frame, const char* detail_format, ...)
    TRENZIK_PRINTF_FORMAT(2, 3);

// The failure ending: closing prompt, one key, exit status 1.
[[noreturn]] void AbortRun(RunFrame& frame);
// The successful ending: buffers released, closing prompt, one key.
void FinishRun(RunFrame& frame);
