// The splitter's start: command line, input lookup, segment size from the
// command line and from the configuration file, program directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/run_frame.h"

inline constexpr std::size_t kMaxSizeTextLength = 10;
inline constexpr std::size_t kConfigLineSize = 256;
inline constexpr std::size_t kValueTextSize = 100;

struct SizeFromText {
  bool valid;
  std::int64_t number;  // as read, clamped far beyond the valid range
};
SizeFromText SegmentSizeFromText(std::string_view text);

// One "size" entry of a configuration line, judged unless the command line
// fixed the size.
struct SizeEntry {
  bool judged;
  SizeFromText size;
};
// What one line of the configuration file sets and where it breaks the grammar.
struct ConfigLine {
  std::vector<SizeEntry> entries;  // in line order; a valid judged one ends the line
  bool grammar_error;
  std::size_t error_position;
};
// `line` is one piece as read (at most 255 bytes); its text ends at an LF,
// a NUL or its end.
ConfigLine ParseConfigurationLine(std::string_view line, bool command_line_size_set);

// Text-mode reading of the configuration file on every platform: CR LF reads
// as LF, a lone CR stays, 0x1A ends the file, and lines come in pieces of at
// most 255 bytes. A read error counts as the end of the file.
struct ConfigReader {
  platform::FileHandle file;
  std::uint64_t offset = 0;
  unsigned char block[4096];
  std::size_t block_used = 0;
  std::size_t block_length = 0;
  int pending = -1;  // a byte looked at after a CR
  bool ended = false;
};
// The next piece into `line` (kConfigLineSize bytes); its length, 0 at the end.
std::size_t ReadConfigurationPiece(ConfigReader& reader, char* line);

// Reads the open file to its end, applying and reporting its "size"
// entries; on a grammar error it ends the run.
void ReadConfigurationFile(RunFrame& frame, platform::FileHandle file, bool command_line_size_set,
                           std::int32_t* segment_size);

// The splitter's work buffers, in the order of allocation: the start fills
// the first four, the splitting run the rest.
enum SplitterBuffer {
  kInputPathBuffer = 1,
  kStoredNameBuffer,
  kProgramDirectoryBuffer,
  kConfigPathBuffer,
  kSetBasePathBuffer,
  kSegmentPathBuffer,
  kDisplayNameBuffer,
};

// What the splitting run takes over from the start.
struct SplitterSettings {
  const char* input_path;
  const char* stored_name;
  const char* program_directory;
  std::int32_t segment_size;
};

// The start's steps, in the order the main procedure runs them; each ends
// the run itself when it fails.
void RequireFileArgument(RunFrame& frame, int argc);
void LookUpInput(RunFrame& frame, const char* file_argument, SplitterSettings* settings);
bool SegmentSizeFromCommandLine(RunFrame& frame, int argc, char** argv,
                                SplitterSettings* settings);
void FindProgramDirectory(RunFrame& frame, const char* program_path, SplitterSettings* settings);
void ApplyConfigurationFile(RunFrame& frame, bool command_line_size_set,
                            SplitterSettings* settings);
