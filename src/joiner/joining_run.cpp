#include "joiner/joining_run.h"

#include <cstring>
#include <limits>

#include "common/copy_buffer.h"
#include "common/frame_texts.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "joiner/joiner_texts.h"

using namespace joiner_texts;


namespace {

// Copies run to the end of their segment; the end is wherever the file ends.
constexpr std::uint64_t kToEndOfFile = std::numeric_limits<std::int64_t>::max();

struct JoinRun {
  RunFrame& frame;
  const JoinerSet& set;
  char* output_path;
  platform::FileHandle output;
  std::uint64_t written;
  std::int32_t segment_count;
  std::int32_t bound;
};

// The stored name comes from a file anybody may have made: it must name a
// file in the folder of the segments and nothing else.
bool IsPlainName(const char* name, std::size_t name_length) {
  if (std::strlen(name) != name_length) return false;  // a NUL inside the name
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return !ContainsSeparator(name, platform::kNameSeparators);
}

std::uint64_t ReadStoredName(JoinRun& run, platform::FileHandle first_segment) {
  unsigned char bytes[kMaxHeaderLength];
  std::int64_t size = ReadHeaderBytes(first_segment, bytes);
  SegmentHeader header{};
  if (size < 0 || DecodeSegmentHeader(bytes, static_cast<std::size_t>(size), &header) !=
                      HeaderCheck::kValid) {
    Say(run.frame, kErrorHeaderFormat, kErrorHeader);
    Say(run.frame, kNotFirstSegmentFormat, kNotSegmented, kOr, kNotFirst);
    Say(run.frame, kFirstExtensionFormat, kFirstExtension);
    FailRun(run.frame, AbortNotice::kPrint);
  }
  run.segment_count = header.segment_count;
  // An empty name leaves the bare folder as output path, which the create
  // step refuses; any other name must be plain.
  if (header.name_length > 0 && !IsPlainName(header.name, header.name_length)) {
    FailWithName(run.frame, kNameNotPlain, header.name);
  }
  char* scratch = WorkBuffer(run.frame, kScratchBuffer);
  CopyText(scratch, header.name);
  if (!CopyText(run.output_path, run.set.directory_part) || !AppendText(run.output_path, scratch)) {
    FailWithDetail(run.frame, kPathTooLong);
  }
  return HeaderLength(header.name_length);
}

// The output must never be one of the files the run is about to read.
void RefuseOutputInSet(JoinRun& run) {
  platform::FileHandle probe = platform::OpenForReading(run.output_path);
  if (!platform::IsOpen(probe)) return;
  platform::CloseFile(probe);
  char* segment_path = WorkBuffer(run.frame, kSegmentPathBuffer);
  for (std::int32_t k = 1;; ++k) {
    if (!ComposeSegmentPath(segment_path, run.set.set_base_path, k)) {
      FailWithDetail(run.frame, kPathTooLong);
    }
    if (platform::SameFile(run.output_path, segment_path)) {
      FailWithName(run.frame, kOutputIsSegment, run.output_path);
    }
    if (k >= run.segment_count) break;
  }
}

void CreateOutput(JoinRun& run) {
  run.output = platform::CreateForWriting(run.output_path);
  if (!platform::IsOpen(run.output)) {
    Say(run.frame, kErrorHeaderSpacedFormat, kErrorHeader);
    Say(run.frame, kCannotCreateFormat, kCannotCreateFile);
    FailRun(run.frame, AbortNotice::kPrint);
  }
}

const char* ShowBinding(JoinRun& run, const char* segment_path) {
  char* display_name = WorkBuffer(run.frame, kScratchBuffer);
  CopyText(display_name, segment_path);
  StripToBaseName(display_name);
  Say(run.frame, kBindingFormat, kBinding, display_name);
  return display_name;
}

// Appends one segment from `offset` to its end onto the output.
void BindSegment(JoinRun& run, platform::FileHandle segment, std::uint64_t offset,
                 const char* display_name, platform::CopyBuffer buffer) {
  platform::CopyOutcome outcome =
      CopyRange(segment, offset, run.output, run.written, kToEndOfFile, buffer);
  if (outcome.failure == platform::CopyFailure::kRead) {
    FailWithName(run.frame, kCannotReadSegment, display_name);
  }
  if (outcome.failure == platform::CopyFailure::kWrite) {
    FailWithName(run.frame, kCannotWriteOutput, run.output_path);
  }
  run.written += outcome.copied;
  platform::CloseFile(segment);
  Say(run.frame, kDoneFormat, kDone);
  ++run.bound;
}

void BindLaterSegments(JoinRun& run, platform::CopyBuffer buffer) {
  char* segment_path = WorkBuffer(run.frame, kSegmentPathBuffer);
  for (std::int32_t i = 2; i <= run.segment_count; ++i) {
    if (!ComposeSegmentPath(segment_path, run.set.set_base_path, i)) {
      FailWithDetail(run.frame, kPathTooLong);
    }
    platform::FileHandle segment = platform::OpenForReading(segment_path);
    if (!platform::IsOpen(segment)) {
      // It was there for the check; binding on without it would leave a
      // short file reported as a whole one.
      char* display_name = WorkBuffer(run.frame, kScratchBuffer);
      CopyText(display_name, segment_path);
      StripToBaseName(display_name);
      FailWithName(run.frame, kCannotOpenSegment, display_name);
    }
    BindSegment(run, segment, 0, ShowBinding(run, segment_path), buffer);
    if (i == run.segment_count) break;
  }
}

void PrintSummary(JoinRun& run) {
  RunFrame& frame = run.frame;
  char* name = WorkBuffer(frame, kScratchBuffer);
  CopyText(name, run.output_path);
  StripToBaseName(name);
  Say(frame, kSuccessFormat, kSuccess);
  Say(frame, kResultFormat, kResult);
  Say(frame, kNameOfFileFormat, kNameOfFile, name);
  Say(frame, kFolderHeadingFormat, kFolderHeading);
  Say(frame, kFolderFormat, run.set.directory_part);
  Say(frame, kTotalFormat, kTotal, run.bound);
}

}  // namespace

void JoinSegments(RunFrame& frame, const JoinerSet& set) {
  JoinRun run{frame, set, WorkBuffer(frame, kOutputPathBuffer), platform::kNoFile, 0, 0, 0};
  FirstSegment first = OpenFirstSegment(frame, set);
  const std::uint64_t header_length = ReadStoredName(run, first.file);
  RefuseOutputInSet(run);
  PromptOverwrite(frame, run.output_path);
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  if (buffer.bytes == nullptr) FailOutOfMemory(frame);
  CreateOutput(run);

  char* first_path = WorkBuffer(frame, kSegmentPathBuffer);
  ComposeSegmentPath(first_path, set.set_base_path, 1);
  BindSegment(run, first.file, header_length, ShowBinding(run, first_path), buffer);
  BindLaterSegments(run, buffer);
  if (!platform::CloseFile(run.output)) FailWithName(frame, kCannotWriteOutput, run.output_path);
  ReleaseCopyBuffer(buffer);
  PrintSummary(run);
}
