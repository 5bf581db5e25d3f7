#include "splitter/splitter_settings.h"

#include <cstring>

#include "common/named_file.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "splitter/splitter_failures.h"
#include "splitter/splitter_texts.h"

using namespace splitter_texts;

static_assert(kDisplayNameBuffer == kSplitterProfile.buffer_count,
              "the profile allocates every work buffer of the splitter");

namespace {

bool IsSizeTextWhiteSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

// Far beyond kMaxSegmentSize: a longer run of digits stays out of range.
constexpr std::int64_t kNumberCeiling = std::int64_t{1} << 40;

}  // namespace

SizeFromText SegmentSizeFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSizeTextWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > kNumberCeiling) number = kNumberCeiling;
  }
  if (negative) number = -number;
  const bool valid = text.size() <= kMaxSizeTextLength && number >= kMinSegmentSize &&
                     number <= kMaxSegmentSize;
  return {valid, number};
}

namespace {

bool IsKeyLetter(char byte, char lower) { return byte == lower || byte == lower - ('a' - 'A'); }

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && text[at] == ' ') ++at;
  return at;
}

// The line's text: up to its LF or first NUL.
std::string_view LineText(std::string_view line) {
  std::size_t end = line.find_first_of(std::string_view("\n\0", 2));
  return end == std::string_view::npos ? line : line.substr(0, end);
}

}  // namespace

ConfigLine ParseConfigurationLine(std::string_view line, bool command_line_size_set) {
  const std::string_view text = LineText(line);
  ConfigLine outcome{{}, false, 0};
  std::size_t at = 0;
  for (;;) {
    at = SkipBlanks(text, at);
    if (at == text.size() || text[at] == ';') return outcome;
    if (!IsKeyLetter(text[at], 's')) {
      outcome.grammar_error = true;
      outcome.error_position = at;
      return outcome;
    }
    // The key "size" in any mix of cases; at the first byte that does not
    // fit, the key is dropped and that byte starts the next token.
    ++at;
    bool key_complete = true;
    for (char letter : {'i', 'z', 'e'}) {
      if (at == text.size() || !IsKeyLetter(text[at], letter)) {
        key_complete = false;
        break;
      }
      ++at;
    }
    if (!key_complete) continue;
    at = SkipBlanks(text, at);
    if (at == text.size() || text[at] != '=') continue;
    at = SkipBlanks(text, at + 1);
    const std::size_t value_start = at;
    while (at < text.size() && text[at] != ' ') ++at;
    const std::string_view value = text.substr(value_start, at - value_start);
    if (command_line_size_set) {
      outcome.entries.push_back({false, {false, 0}});
      continue;
    }
    // A value text longer than its buffer is invalid in any case.
    SizeFromText size = value.size() < kValueTextSize ? SegmentSizeFromText(value)
                                                      : SizeFromText{false, 0};
    outcome.entries.push_back({true, size});
    if (size.valid) return outcome;  // the rest of the line is ignored
  }
}

namespace {

constexpr unsigned char kTextEnd = 0x1A;

int NextRawByte(ConfigReader& reader) {
  if (reader.pending >= 0) {
    int byte = reader.pending;
    reader.pending = -1;
    return byte;
  }
  if (reader.ended) return -1;
  if (reader.block_used == reader.block_length) {
    std::int64_t got = platform::ReadAt(reader.file, reader.offset, reader.block, sizeof reader.block);
    if (got <= 0) {
      reader.ended = true;  // a read error is taken as the end of the file
      return -1;
    }
    reader.offset += static_cast<std::uint64_t>(got);
    reader.block_used = 0;
    reader.block_length = static_cast<std::size_t>(got);
  }
  return reader.block[reader.block_used++];
}

int NextTextByte(ConfigReader& reader) {
  int byte = NextRawByte(reader);
  if (byte == kTextEnd) {
    reader.ended = true;
    reader.pending = -1;
    return -1;
  }
  if (byte == '\r') {
    int next = NextRawByte(reader);
    if (next == '\n') return '\n';
    reader.pending = next;
  }
  return byte;
}

}  // namespace

std::size_t ReadConfigurationPiece(ConfigReader& reader, char* line) {
  std::size_t length = 0;
  while (length < kConfigLineSize - 1) {
    int byte = NextTextByte(reader);
    if (byte < 0) break;
    line[length++] = static_cast<char>(byte);
    if (byte == '\n') break;
  }
  line[length] = '\0';
  return length;
}

namespace {

void ReportInvalidSize(const RunFrame& frame) {
  Say(frame, kSizeInvalidFormat, kSizeInvalid);
  Say(frame, kSizeRangeFormat, kSizeRange);
  Say(frame, kSizeResetFormat, kSizeSetTo, kDefaultSegmentSize);
}

}  // namespace

void ReadConfigurationFile(RunFrame& frame, platform::FileHandle file, bool command_line_size_set,
                           std::int32_t* segment_size) {
  ConfigReader reader{};
  reader.file = file;
  char line[kConfigLineSize];
  while (std::size_t length = ReadConfigurationPiece(reader, line)) {
    ConfigLine parsed = ParseConfigurationLine(std::string_view(line, length),
                                               command_line_size_set);
    for (const SizeEntry& entry : parsed.entries) {
      if (!entry.judged) continue;
      if (entry.size.valid) {
        *segment_size = static_cast<std::int32_t>(entry.size.number);
        Say(frame, kSizeSetFromFileFormat, kSizeSetTo, *segment_size);
      } else {
        *segment_size = kDefaultSegmentSize;
        ReportInvalidSize(frame);
      }
    }
    if (parsed.grammar_error) {
      platform::CloseFile(file);
      FailConfigurationGrammar(frame);
    }
  }
}

void RequireFileArgument(RunFrame& frame, int argc) {
  if (argc < 2) FailNoFileArgument(frame);
}

void LookUpInput(RunFrame& frame, const char* file_argument, SplitterSettings* settings) {
  char* stored_name = WorkBuffer(frame, kStoredNameBuffer);
  char* input_path = WorkBuffer(frame, kInputPathBuffer);
  switch (LookUpNamedFile(frame, file_argument, stored_name)) {
    case NamedFile::kFound:
      break;
    case NamedFile::kTooLong:
      FailPathTooLong(frame);
    case NamedFile::kAbsent:
      FailInputNotFound(frame);
    case NamedFile::kHoldsControlByte:
      FailNameHoldsControlByte(frame, stored_name);
  }
  CopyText(input_path, file_argument);
  settings->input_path = input_path;
  settings->stored_name = stored_name;
}

bool SegmentSizeFromCommandLine(RunFrame& frame, int argc, char** argv,
                                SplitterSettings* settings) {
  settings->segment_size = kDefaultSegmentSize;
  if (argc != 3) return false;
  SizeFromText size = SegmentSizeFromText(argv[2]);
  if (!size.valid) {
    ReportInvalidSize(frame);
    return false;
  }
  settings->segment_size = static_cast<std::int32_t>(size.number);
  Say(frame, kSizeSetFormat, kSizeSetTo, settings->segment_size);
  return true;
}

void FindProgramDirectory(RunFrame& frame, const char* program_path, SplitterSettings* settings) {
  char* directory = WorkBuffer(frame, kProgramDirectoryBuffer);
  if (!CopyPrefix(directory, program_path, DirectoryPartLength(program_path, frame.paths))) {
    FailPathTooLong(frame);
  }
  settings->program_directory = directory;
}

void ApplyConfigurationFile(RunFrame& frame, bool command_line_size_set,
                            SplitterSettings* settings) {
  char* config_path = WorkBuffer(frame, kConfigPathBuffer);
  const char separator[] = {platform::kPathSeparator, '\0'};
  if (!CopyText(config_path, settings->program_directory) || !AppendText(config_path, separator) ||
      !AppendText(config_path, kConfigurationFileName)) {
    FailPathTooLong(frame);
  }
  // Only a regular file is read: a FIFO or a device there would never end
  // (or never begin), so it counts as a file that cannot be opened.
  platform::FileFacts facts{};
  platform::FileHandle file = platform::OpenForReading(config_path, &facts);
  if (platform::IsOpen(file) && facts.kind != platform::FileKind::kRegular) {
    platform::CloseFile(file);
    file = platform::kNoFile;
  }
  if (!platform::IsOpen(file)) {
    Say(frame, kConfigNotFoundFormat, kConfigNotFound);
    if (command_line_size_set) {
      Say(frame, kSizeKeptFormat, kSizeKeptFromCommandLine, settings->segment_size);
    } else {
      Say(frame, kSizeDefaultFormat, kSizeSetToDefault, settings->segment_size);
    }
    return;
  }
  Say(frame, kReadingConfigFormat, kReadingConfig);
  ReadConfigurationFile(frame, file, command_line_size_set, &settings->segment_size);
  Say(frame, kFinishedConfigFormat, kFinishedConfig);
  Say(frame, "%s", kAfterConfig);
  platform::CloseFile(file);
}
