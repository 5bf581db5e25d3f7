#include "splitter/splitting_run.h"

#include <cstring>

#include "common/copy_buffer.h"
#include "common/frame_texts.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "splitter/splitter_texts.h"

using namespace splitter_texts;


namespace {

// Work buffers 5 .. 7 of the splitter; 1 .. 4 belong to the start.
enum SplitBuffer {
  kSetBasePathBuffer = 5,
  kSegmentPathBuffer,
  kDisplayNameBuffer,
};

struct SplitRun {
  RunFrame& frame;
  const SplitterSettings& settings;
  char* set_base_path;
  char* segment_path;
  char* display_name;
  platform::FileHandle input;
  platform::FileHandle segment;
  std::uint64_t input_size;
  std::int32_t segment_count;
};

[[noreturn]] void FailWithDetail(RunFrame& frame, const char* detail) {
  Say(frame, kErrorHeaderFormat, kErrorHeader);
  Say(frame, kDetailFormat, detail);
  FailRun(frame, AbortNotice::kOmit);
}

[[noreturn]] void FailWithPath(RunFrame& frame, const char* detail, const char* path) {
  Say(frame, kErrorHeaderFormat, kErrorHeader);
  Say(frame, kDetailWithPathFormat, detail, path);
  FailRun(frame, AbortNotice::kOmit);
}

void ComposeSetNames(SplitRun& run) {
  const char* stored_name = run.settings.stored_name;
  if (std::strlen(stored_name) > kMaxStoredNameLength) FailWithDetail(run.frame, kNameTooLong);
  if (!CopyText(run.set_base_path, run.settings.program_directory) ||
      !AppendText(run.set_base_path, stored_name) || !AppendText(run.set_base_path, ".") ||
      !ComposeSegmentPath(run.segment_path, run.set_base_path, run.segment_count)) {
    FailWithDetail(run.frame, kPathTooLong);
  }
}

platform::FileHandle OpenInput(RunFrame& frame, const char* input_path) {
  platform::FileHandle input = platform::OpenForReading(input_path);
  if (!platform::IsOpen(input)) {
    Say(frame, kErrorHeaderFormat, kErrorHeader);
    Say(frame, kFileNotFoundFormat, kFileNotFound);
    Say(frame, kCheckFilenameFormat, kCheckFilename);
    FailRun(frame, AbortNotice::kOmit);
  }
  return input;
}

// A regular file's size comes from the file system; anything else is read
// through once and counted.
bool CountInputBytes(platform::FileHandle input, platform::CopyBuffer buffer,
                     std::uint64_t* size) {
  if (platform::RegularFileSize(input, size)) return true;
  std::uint64_t counted = 0;
  for (;;) {
    std::int64_t got = platform::ReadAt(input, counted, buffer.bytes, buffer.size);
    if (got < 0) return false;
    if (got == 0) break;
    counted += static_cast<std::uint64_t>(got);
  }
  *size = counted;
  return true;
}

void MeasureInput(SplitRun& run, platform::CopyBuffer buffer) {
  platform::FileHandle input = OpenInput(run.frame, run.settings.input_path);
  Say(run.frame, kStepFormat, kCalculatingSize);
  if (!CountInputBytes(input, buffer, &run.input_size)) {
    FailWithPath(run.frame, kCannotReadInput, run.settings.input_path);
  }
  Say(run.frame, kDoneLineFormat, kDone);
  platform::CloseFile(input);
}

void RefuseSmallInput(const SplitRun& run) {
  if (run.input_size > static_cast<std::uint64_t>(run.settings.segment_size)) return;
  Say(run.frame, kTooSmallFormat, kTooSmall);
  Say(run.frame, kNotSegmentedFormat, kNotSegmented);
  FailRun(run.frame, AbortNotice::kOmit);
}

void CountSegments(SplitRun& run) {
  if (!SegmentCountFor(run.input_size, std::strlen(run.settings.stored_name),
                       run.settings.segment_size, &run.segment_count)) {
    FailWithDetail(run.frame, kTooManySegments);
  }
}

void ShowWritingTo(SplitRun& run) {
  CopyText(run.display_name, run.segment_path);
  StripToBaseName(run.display_name);
  Say(run.frame, kWritingToFormat, kWritingTo, run.display_name);
}

void CreateSegment(SplitRun& run, const char* cannot_create_format) {
  run.segment = platform::CreateForWriting(run.segment_path);
  if (!platform::IsOpen(run.segment)) {
    Say(run.frame, kErrorHeaderFormat, kErrorHeader);
    Say(run.frame, cannot_create_format, kCannotCreateFile);
    FailRun(run.frame, AbortNotice::kOmit);
  }
}

void CloseSegment(SplitRun& run) {
  if (!platform::CloseFile(run.segment)) {
    FailWithPath(run.frame, kCannotWriteSegment, run.segment_path);
  }
}

std::uint64_t WriteHeader(SplitRun& run) {
  Say(run.frame, kStepFormat, kWritingHeader);
  unsigned char header[kMaxHeaderLength];
  std::size_t length = EncodeSegmentHeader(run.segment_count, run.settings.stored_name, header);
  if (!platform::WriteAt(run.segment, 0, header, length)) {
    FailWithPath(run.frame, kCannotWriteSegment, run.segment_path);
  }
  Say(run.frame, kStepFormat, kDone);
  return length;
}

// Fills segment 1 after its header and segments 2 .. N; every segment but
// the last is full, the last holds the rest and may be empty.
void CopySegments(SplitRun& run, std::uint64_t header_length, platform::CopyBuffer buffer) {
  const auto segment_size = static_cast<std::uint64_t>(run.settings.segment_size);
  std::uint64_t copied = 0;
  std::uint64_t segment_offset = header_length;
  ShowWritingTo(run);
  for (std::int32_t k = 1;; ++k) {
    const std::uint64_t room = segment_size - segment_offset;
    const std::uint64_t left = run.input_size - copied;
    const std::uint64_t take = room < left ? room : left;
    platform::CopyOutcome outcome =
        CopyRange(run.input, copied, run.segment, segment_offset, take, buffer);
    if (outcome.failure == platform::CopyFailure::kRead) {
      FailWithPath(run.frame, kCannotReadInput, run.settings.input_path);
    }
    if (outcome.failure == platform::CopyFailure::kWrite) {
      FailWithPath(run.frame, kCannotWriteSegment, run.segment_path);
    }
    if (outcome.copied < take) FailWithDetail(run.frame, kInputChanged);
    copied += take;
    if (k == run.segment_count) break;

    Say(run.frame, kStepFormat, kDone);
    CloseSegment(run);
    if (!ComposeSegmentPath(run.segment_path, run.set_base_path, k + 1)) {
      FailWithDetail(run.frame, kPathTooLong);
    }
    CreateSegment(run, kLaterCannotCreateFormat);
    ShowWritingTo(run);
    segment_offset = 0;
  }
}

// The set must hold the bytes that were measured: an input that grew since
// would disagree with the count in the header.
void RequireInputEnded(SplitRun& run, platform::CopyBuffer buffer) {
  std::int64_t got = platform::ReadAt(run.input, run.input_size, buffer.bytes, 1);
  if (got < 0) FailWithPath(run.frame, kCannotReadInput, run.settings.input_path);
  if (got > 0) FailWithDetail(run.frame, kInputChanged);
}

void PrintSummary(SplitRun& run) {
  RunFrame& frame = run.frame;
  Say(frame, kDoneLineFormat, kDone);
  Say(frame, kSuccessFormat, kSuccess);
  Say(frame, kResultFormat, kResult);
  Say(frame, kNameSegmentedFormat, kNameSegmented, run.settings.stored_name);
  Say(frame, kFolderHeadingFormat, kFolderHeading);
  Say(frame, kFolderFormat, run.settings.program_directory);
  Say(frame, kTotalFormat, kTotal, run.segment_count);
  ComposeSegmentPath(run.display_name, run.set_base_path, 1);
  StripToBaseName(run.display_name);
  Say(frame, kToBindFormat, kToBind, run.display_name, kToBindTail);
}

}  // namespace

void SplitInput(RunFrame& frame, const SplitterSettings& settings) {
  SplitRun run{frame,
               settings,
               WorkBuffer(frame, kSetBasePathBuffer),
               WorkBuffer(frame, kSegmentPathBuffer),
               WorkBuffer(frame, kDisplayNameBuffer),
               platform::kNoFile,
               platform::kNoFile,
               0,
               1};
  ComposeSetNames(run);
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  if (buffer.bytes == nullptr) FailOutOfMemory(frame);

  MeasureInput(run, buffer);
  RefuseSmallInput(run);
  CountSegments(run);
  run.input = OpenInput(frame, settings.input_path);
  PromptOverwrite(frame, run.segment_path);
  CreateSegment(run, kFirstCannotCreateFormat);
  const std::uint64_t header_length = WriteHeader(run);
  CopySegments(run, header_length, buffer);
  RequireInputEnded(run, buffer);
  CloseSegment(run);
  platform::CloseFile(run.input);
  ReleaseCopyBuffer(buffer);
  PrintSummary(run);
}
