#include "joiner/joining_run.h"

#include <cstring>

#include "common/closing_batch.h"
#include "common/copy_buffer.h"
#include "common/frame_texts.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "common/shown_names.h"
#include "common/stored_names.h"
#include "joiner/joiner_failures.h"
#include "joiner/joiner_texts.h"

using namespace joiner_texts;

namespace {

struct JoinRun {
  RunFrame& frame;
  const JoinerSet& set;
  char* output_path;
  char* display_name;
  platform::PathKind old_output;  // what the output's name held before the run
  platform::Replacement output;   // the new output, under a temporary name until it is whole
  std::uint64_t written;
  std::int32_t bound;
  ClosingBatch copied;  // segments done with, closed a batch at a time
  platform::WriteBehind write_behind;
};

// The stored name comes from a file anybody may have made: it must name a
// file in the folder of the segments and nothing else, and hold no byte that
// would drive the terminal it is printed on.
bool IsPlainName(const char* name, std::size_t name_length, LeadByteTest lead) {
  if (std::strlen(name) != name_length) return false;  // a NUL inside the name
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  if (HoldsControlByte(name)) return false;
  if (platform::kRefusesDeviceNames && IsDeviceName(name)) return false;
  return !ContainsSeparator(name, platform::kNameSeparators, lead);
}

// The output path: the folder of the segments and the name segment 1 stores.
void ComposeOutputPath(JoinRun& run) {
  const JoinerSet& set = run.set;
  if (!set.header_whole) FailNotFirstSegment(run.frame);
  const SegmentHeader& header = set.header;
  // An empty name leaves the bare folder as output path, which the create
  // step refuses; any other name must be plain.
  if (header.name_length > 0 &&
      !IsPlainName(header.name, header.name_length, run.frame.paths.lead)) {
    FailNameNotPlain(run.frame, header.name, header.name_length);
  }
  if (!CopyText(run.output_path, set.directory_part) || !AppendText(run.output_path, header.name)) {
    FailPathTooLong(run.frame);
  }
}

// The output must never be one of the files the run is about to read.
void RefuseOutputInSet(JoinRun& run) {
  platform::FileFacts output{};
  platform::FileHandle probe = platform::OpenForReading(run.output_path, &output);
  if (!platform::IsOpen(probe)) return;
  platform::CloseFile(probe);
  // Every member is as long as segment 1 or as the last one: a file of
  // another length is none of them, and the members need not be looked at
  // one by one (a member that changed since the check fails its copy).
  if (output.size != run.set.first_size && output.size != run.set.last_size) return;
  char* segment_path = WorkBuffer(run.frame, kSegmentPathBuffer);
  for (std::int32_t k = 1;; ++k) {
    if (!ComposeSegmentPath(segment_path, run.set.set_base_path, k)) FailPathTooLong(run.frame);
    if (platform::SameFile(run.output_path, segment_path)) {
      FailOutputIsSegment(run.frame, run.output_path);
    }
    if (k >= run.set.segment_count) break;
  }
}

// Only a regular file (or a link, which the rename replaces) is replaced.
// A folder cannot be created over; a FIFO or a device is refused before the
// question.
void RefuseSpecialOutput(JoinRun& run) {
  const char* stored_name = run.output_path + run.set.directory_length;
  if (*stored_name == '\0') FailCannotCreateOutput(run.frame);
  run.old_output = platform::LookAtPath(run.output_path);
  switch (run.old_output) {
    case platform::PathKind::kFolder:
      FailCannotCreateOutput(run.frame);
    case platform::PathKind::kOther:
      FailOutputNotRegular(run.frame, run.output_path);
    case platform::PathKind::kAbsent:
    case platform::PathKind::kRegular:
    case platform::PathKind::kLink:
      return;
  }
}

// The output is written under a new name and renamed over the old one only
// when it is whole: until then an existing file stays as it was.
void CreateOutput(JoinRun& run) {
  // An old file that could not be written in place is not replaced either,
  // whether or not it could be read (an unreadable one is never asked about).
  if (run.old_output == platform::PathKind::kRegular &&
      !platform::MayBeWritten(run.output_path)) {
    FailCannotCreateOutput(run.frame);
  }
  switch (platform::BeginReplacement(InSetFolder(run.set, run.output_path), run.old_output,
                                     &run.output)) {
    case platform::ReplacementStart::kStarted:
      if (run.set.first_size >= kEarlyWriteBackSize) platform::BeginWriteBehind(run.write_behind);
      return;
    case platform::ReplacementStart::kTooLong:
      FailPathTooLong(run.frame);
    case platform::ReplacementStart::kFailed:
      break;
  }
  FailCannotCreateOutput(run.frame);
}

// Every failure once the temporary file exists: it goes, the old output
// stays.
void DiscardOutput(JoinRun& run) { platform::DiscardReplacement(&run.output); }

// Writing, flushing or closing the output failed.
[[noreturn]] void FailWrite(JoinRun& run) {
  // Asked first: closing and removing may change the system's error.
  const bool no_room = platform::LastFailureWasNoRoom();
  DiscardOutput(run);
  if (no_room && run.old_output != platform::PathKind::kAbsent) {
    FailNoRoomBesideOld(run.frame, run.output_path);
  }
  FailCannotWriteOutput(run.frame, run.output_path);
}

const char* ShowBinding(JoinRun& run, const char* segment_path) {
  const char* display_name = DisplayName(run.display_name, segment_path, run.frame.paths);
  Say(run.frame, kBindingFormat, kBinding, ShownName(display_name).text);
  return display_name;
}

// Ends the run when a segment's copy failed, or moved other than `count`
// bytes: exactly what the check measured, no more and no less.
void RequireCopied(JoinRun& run, const CopyOutcome& outcome, std::uint64_t count,
                   const char* display_name) {
  if (outcome.failure == CopyFailure::kRead) {
    DiscardOutput(run);
    FailCannotReadSegment(run.frame, display_name);
  }
  if (outcome.failure == CopyFailure::kWrite) FailWrite(run);
  if (outcome.copied != count) {
    DiscardOutput(run);
    FailSegmentChanged(run.frame, display_name);
  }
}

void FinishSegment(JoinRun& run, platform::FileHandle segment, std::uint64_t count) {
  // The medium starts taking what is bound while the next segment is copied,
  // so that the flush at the end finds little left to do.
  if (count >= kEarlyWriteBackSize) {
    platform::StartWriteBack(run.write_behind, run.output.file, run.written, count);
  }
  run.written += count;
  CloseSoon(run.copied, segment);
  Say(run.frame, kDoneFormat, kDone);
  ++run.bound;
}

// Segment 1 is the file the check opened, read and measured; the copy
// shows whether it still holds that many bytes.
void BindFirstSegment(JoinRun& run, platform::CopyBuffer buffer) {
  char* first_path = WorkBuffer(run.frame, kSegmentPathBuffer);
  ComposeSegmentPath(first_path, run.set.set_base_path, 1);
  const char* display_name = ShowBinding(run, first_path);
  const std::uint64_t header_length = HeaderLength(run.set.header.name_length);
  const std::uint64_t count = run.set.first_size - header_length;
  const platform::FileHandle segment = run.set.first_segment;
  RequireCopied(run, CopyRange(segment, header_length, run.output.file, run.written, count, buffer),
                count, display_name);
  FinishSegment(run, segment, count);
}

// Each later segment is opened without a status call: the copy itself
// shows whether it still holds what the check measured.
void BindLaterSegments(JoinRun& run, platform::CopyBuffer buffer) {
  char* segment_path = WorkBuffer(run.frame, kSegmentPathBuffer);
  const std::int32_t count = run.set.segment_count;
  for (std::int32_t i = 2; i <= count; ++i) {
    if (!ComposeSegmentPath(segment_path, run.set.set_base_path, i)) {
      DiscardOutput(run);
      FailPathTooLong(run.frame);
    }
    const platform::FolderPath member = InSetFolder(run.set, segment_path);
    platform::FileHandle segment = platform::OpenToCopy(member);
    if (!platform::IsOpen(segment) && MadeRoomToOpen(run.copied)) {
      segment = platform::OpenToCopy(member);
    }
    // It was there for the check; binding on without it would leave a
    // short file reported as a whole one.
    if (!platform::IsOpen(segment)) {
      DiscardOutput(run);
      FailCannotOpenSegment(run.frame,
                            DisplayName(run.display_name, segment_path, run.frame.paths));
    }
    const std::uint64_t expected = i < count ? run.set.first_size : run.set.last_size;
    const char* display_name = ShowBinding(run, segment_path);
    RequireCopied(run, CopyWholeFile(segment, run.output.file, run.written, expected, buffer), expected,
                  display_name);
    FinishSegment(run, segment, expected);
    if (i == count) break;
  }
}

// The output is flushed before it takes its name, and the name before the
// success is told: "Successfully" means the file is on the medium.
void FinishOutput(JoinRun& run) {
  platform::EndWriteBehind(run.write_behind);
  CloseBatch(run.copied);
  switch (platform::CommitReplacement(&run.output)) {
    case platform::ReplacementEnd::kCommitted:
      return;
    case platform::ReplacementEnd::kNotWritten:
      FailWrite(run);
    case platform::ReplacementEnd::kTargetTaken:
      DiscardOutput(run);
      FailOutputAppeared(run.frame, run.output_path);
    case platform::ReplacementEnd::kNotMoved:
      DiscardOutput(run);
      break;
    case platform::ReplacementEnd::kFolderNotFlushed:
      break;
  }
  FailCannotWriteOutput(run.frame, run.output_path);
}

void PrintSummary(JoinRun& run) {
  RunFrame& frame = run.frame;
  Say(frame, kSuccessFormat, kSuccess);
  Say(frame, kResultFormat, kResult);
  Say(frame, kNameOfFileFormat, kNameOfFile,
      ShownName(DisplayName(run.display_name, run.output_path, frame.paths)).text);
  Say(frame, kFolderHeadingFormat, kFolderHeading);
  Say(frame, kFolderFormat, ShownName(run.set.directory_part).text);
  Say(frame, kTotalFormat, kTotal, run.bound);
}

}  // namespace

void JoinSegments(RunFrame& frame, const JoinerSet& set) {
  JoinRun run{frame,
              set,
              WorkBuffer(frame, kOutputPathBuffer),
              WorkBuffer(frame, kScratchBuffer),
              platform::PathKind::kAbsent,
              {},
              0,
              0,
              {},
              {}};
  ComposeOutputPath(run);
  RefuseSpecialOutput(run);
  RefuseOutputInSet(run);
  PromptOverwrite(frame, run.output_path);
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  if (buffer.bytes == nullptr) FailOutOfMemory(frame);
  CreateOutput(run);

  BindFirstSegment(run, buffer);
  BindLaterSegments(run, buffer);
  FinishOutput(run);
  platform::CloseFolder(set.folder);
  ReleaseCopyBuffer(buffer);
  PrintSummary(run);
}
