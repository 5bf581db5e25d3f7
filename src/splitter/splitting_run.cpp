#include "splitter/splitting_run.h"

#include <cstring>

#include "common/copy_buffer.h"
#include "common/frame_texts.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "common/shown_names.h"
#include "splitter/splitter_failures.h"
#include "splitter/splitter_texts.h"

using namespace splitter_texts;

namespace {

struct SplitRun {
  RunFrame& frame;
  const SplitterSettings& settings;
  char* set_base_path;
  char* segment_path;
  char* display_name;
  platform::FileHandle input;
  platform::FileIdentity input_identity;
  platform::Folder folder;  // the program directory, where the set goes
  bool first_existed;       // a file held segment 1's name before the run
  // Many small segments are flushed by one call for their whole file system
  // at the end instead of one call each.
  bool one_flush;
  platform::WriteBehind write_behind;  // where the flush comes at the end
  // Segment 1 stays open to the end: its signature is written last.
  platform::OverwriteTarget first;
  platform::OverwriteTarget segment;  // the segment being written
  std::uint64_t input_size;
  std::int32_t segment_count;
};

void ComposeSetNames(SplitRun& run) {
  const char* stored_name = run.settings.stored_name;
  if (std::strlen(stored_name) > kMaxStoredNameLength) FailNameTooLong(run.frame);
  if (!CopyText(run.set_base_path, run.settings.program_directory) ||
      !AppendText(run.set_base_path, stored_name) || !AppendText(run.set_base_path, ".") ||
      !ComposeSegmentPath(run.segment_path, run.set_base_path, run.segment_count)) {
    FailPathTooLong(run.frame);
  }
}

// Only a regular file or a block device (a disk image) has a size to cut
// by; a FIFO, a socket or a character device is refused before anything is
// made.
platform::FileHandle OpenInput(RunFrame& frame, const char* input_path,
                               platform::FileFacts* facts) {
  platform::FileHandle input = platform::OpenForReading(input_path, facts);
  if (!platform::IsOpen(input)) {
    // A socket cannot be opened at all, yet it is there: not a missing file.
    if (platform::LookAtPath(input_path) == platform::PathKind::kOther) {
      FailInputNotRegular(frame, input_path);
    }
    FailInputNotFound(frame);
  }
  if (facts->kind == platform::FileKind::kOther) {
    platform::CloseFile(input);
    FailInputNotRegular(frame, input_path);
  }
  return input;
}

void MeasureInput(SplitRun& run) {
  platform::FileFacts facts{};
  platform::FileHandle input = OpenInput(run.frame, run.settings.input_path, &facts);
  Say(run.frame, kStepFormat, kCalculatingSize);
  run.input_size = facts.size;
  Say(run.frame, kDoneLineFormat, kDone);
  platform::CloseFile(input);
}

void RefuseSmallInput(const SplitRun& run) {
  if (run.input_size <= static_cast<std::uint64_t>(run.settings.segment_size)) {
    FailFitsOneSegment(run.frame);
  }
}

void CountSegments(SplitRun& run) {
  if (!SegmentCountFor(run.input_size, std::strlen(run.settings.stored_name),
                       run.settings.segment_size, &run.segment_count)) {
    FailTooManySegments(run.frame);
  }
}

void ReopenInput(SplitRun& run) {
  platform::FileFacts facts{};
  run.input = OpenInput(run.frame, run.settings.input_path, &facts);
  run.input_identity = facts.identity;
}

// A FIFO or a device at the first segment's name is refused before the
// question: no answer could make it a segment.
void RefuseSpecialFirstSegment(SplitRun& run) {
  const platform::PathKind kind = platform::LookAtPath(run.segment_path);
  if (kind == platform::PathKind::kOther) FailSegmentNotRegular(run.frame, run.segment_path);
  run.first_existed = kind != platform::PathKind::kAbsent;
}

// Measured on a fresh ext4 (README, Performance): a flush per segment costs
// a journal commit each, about 1.5 ms, which one flush of the whole file
// system saves when the segments are more than a few.
constexpr std::int32_t kSegmentsFlushedOneByOne = 8;

void ChooseFlushes(SplitRun& run) {
  run.folder = platform::OpenFolder(run.settings.program_directory);
  run.one_flush =
      platform::kFlushesWholeFileSystems && run.segment_count > kSegmentsFlushedOneByOne;
  if (run.one_flush &&
      static_cast<std::uint64_t>(run.settings.segment_size) >= kEarlyWriteBackSize) {
    platform::BeginWriteBehind(run.write_behind);
  }
}

// The names of the set on the medium: its folder flushed, or where that
// cannot be (a folder that may only be searched), its whole file system.
bool FlushNames(SplitRun& run) {
  return platform::FlushFolder(run.folder) || platform::FlushFileSystem(run.first.file);
}

void ShowWritingTo(SplitRun& run) {
  Say(run.frame, kWritingToFormat, kWritingTo,
      ShownName(DisplayName(run.display_name, run.segment_path, run.frame.paths)).text);
}

// An existing segment k is written over (in place where the platform can
// tell it is no link); the input itself, reached by another name, never is.
platform::OverwriteTarget OpenSegment(SplitRun& run, std::int32_t k) {
  platform::OverwriteTarget target{platform::kNoFile, 0};
  switch (platform::OpenForOverwrite(run.segment_path, run.input_identity, &target)) {
    case platform::OverwriteOpen::kOpened:
      return target;
    case platform::OverwriteOpen::kIsGuarded:
      FailSegmentIsInput(run.frame, run.segment_path);
    case platform::OverwriteOpen::kNotRegular:
      FailSegmentNotRegular(run.frame, run.segment_path);
    case platform::OverwriteOpen::kFailed:
      break;
  }
  FailCannotCreateSegment(run.frame, k);
}

// What is left of an older, longer file beyond the new contents goes.
void CutToLength(SplitRun& run, const platform::OverwriteTarget& target, std::uint64_t length) {
  if (target.old_size > length && !platform::TruncateFile(target.file, length)) {
    FailCannotWriteSegment(run.frame, run.segment_path);
  }
}

// Each segment's bytes are on the medium before it is closed, unless the
// whole set is flushed at the end in one call.
void CloseSegment(SplitRun& run) {
  // Where the flush comes at the end, the medium starts taking each segment
  // of some size as soon as it is whole, while the next one is written.
  if (run.one_flush &&
      static_cast<std::uint64_t>(run.settings.segment_size) >= kEarlyWriteBackSize) {
    platform::StartWriteBack(run.write_behind, run.segment.file, 0, 0);
  }
  const bool flushed = run.one_flush || platform::FlushFile(run.segment.file);
  if (!platform::CloseFile(run.segment.file) || !flushed) {
    FailCannotWriteSegment(run.frame, run.segment_path);
  }
}

// The header goes out with its signature zeroed: until the whole set is
// written, segment 1 is no first segment to the joiner, so a run that fails
// or is cut short (or an older set half written over) never binds.
std::uint64_t WriteHeader(SplitRun& run) {
  Say(run.frame, kStepFormat, kWritingHeader);
  unsigned char header[kMaxHeaderLength];
  std::size_t length = EncodeSegmentHeader(run.segment_count, run.settings.stored_name, header);
  std::memset(header, 0, kSignatureLength);
  if (!platform::WriteAt(run.first.file, 0, header, length)) {
    FailCannotWriteSegment(run.frame, run.segment_path);
  }
  // An older set under these names is written over in place: its segment 1
  // must be no first segment on the medium before any other member changes,
  // or a power cut could leave it signed over a mix of old and new members.
  if (run.first_existed && (!platform::FlushFile(run.first.file) || !FlushNames(run))) {
    FailCannotWriteSegment(run.frame, run.segment_path);
  }
  Say(run.frame, kStepFormat, kDone);
  return length;
}

// Fills segment 1 after its header and segments 2 .. N; every segment but
// the last is full, the last holds the rest and may be empty. Every
// segment but the first is closed here.
void CopySegments(SplitRun& run, std::uint64_t header_length, platform::CopyBuffer buffer) {
  const auto segment_size = static_cast<std::uint64_t>(run.settings.segment_size);
  std::uint64_t copied = 0;
  std::uint64_t segment_offset = header_length;
  run.segment = run.first;
  ShowWritingTo(run);
  for (std::int32_t k = 1;; ++k) {
    const std::uint64_t room = segment_size - segment_offset;
    const std::uint64_t left = run.input_size - copied;
    const std::uint64_t take = room < left ? room : left;
    CopyOutcome outcome =
        CopyRange(run.input, copied, run.segment.file, segment_offset, take, buffer);
    if (outcome.failure == CopyFailure::kRead) {
      FailCannotReadInput(run.frame, run.settings.input_path);
    }
    if (outcome.failure == CopyFailure::kWrite) {
      FailCannotWriteSegment(run.frame, run.segment_path);
    }
    if (outcome.copied < take) FailInputChanged(run.frame);
    copied += take;
    CutToLength(run, run.segment, segment_offset + take);
    if (k == run.segment_count) break;

    Say(run.frame, kStepFormat, kDone);
    if (k > 1) CloseSegment(run);
    if (!ComposeSegmentPath(run.segment_path, run.set_base_path, k + 1)) {
      FailPathTooLong(run.frame);
    }
    run.segment = OpenSegment(run, k + 1);
    ShowWritingTo(run);
    segment_offset = 0;
  }
  if (run.segment_count > 1) CloseSegment(run);
}

// Every member's bytes and every name on the medium before the signature
// makes it a set.
void FlushSet(SplitRun& run) {
  platform::EndWriteBehind(run.write_behind);
  const bool flushed = run.one_flush ? platform::FlushFileSystem(run.first.file)
                                     : platform::FlushFile(run.first.file) && FlushNames(run);
  if (!flushed) FailCannotWriteSegment(run.frame, run.segment_path);
}

// The set must hold the bytes that were measured: an input that grew since
// would disagree with the count in the header.
void RequireInputEnded(SplitRun& run, platform::CopyBuffer buffer) {
  std::int64_t got = platform::ReadAt(run.input, run.input_size, buffer.bytes, 1);
  if (got < 0) FailCannotReadInput(run.frame, run.settings.input_path);
  if (got > 0) FailInputChanged(run.frame);
}

// A failure after the signature went out: segment 1 is made no first
// segment again, as far as the medium still lets it, so that a failed run
// never leaves a set that binds.
[[noreturn]] void FailSigned(SplitRun& run) {
  const unsigned char zeros[kSignatureLength] = {};
  platform::FileHandle first = run.first.file;
  if (!platform::IsOpen(first)) {
    platform::OverwriteTarget again{platform::kNoFile, 0};
    if (platform::OpenForOverwrite(run.segment_path, run.input_identity, &again) ==
        platform::OverwriteOpen::kOpened) {
      first = again.file;
    }
  }
  if (platform::IsOpen(first)) {
    if (platform::WriteAt(first, 0, zeros, kSignatureLength)) platform::FlushFile(first);
    platform::CloseFile(first);
  }
  FailCannotWriteSegment(run.frame, run.segment_path);
}

// Only a whole set gets its signature, and with it a first segment; the
// summary that follows is told only once the signature is on the medium.
void SignFirstSegment(SplitRun& run) {
  if (!ComposeSegmentPath(run.segment_path, run.set_base_path, 1)) {
    FailPathTooLong(run.frame);
  }
  if (!platform::WriteAt(run.first.file, 0, kSegmentSignature, kSignatureLength) ||
      !platform::FlushFile(run.first.file)) {
    FailSigned(run);
  }
  const bool closed = platform::CloseFile(run.first.file);
  run.first.file = platform::kNoFile;  // gone, also when closing it failed
  if (!closed) FailSigned(run);
}

void PrintSummary(SplitRun& run) {
  RunFrame& frame = run.frame;
  Say(frame, kDoneLineFormat, kDone);
  Say(frame, kSuccessFormat, kSuccess);
  Say(frame, kResultFormat, kResult);
  Say(frame, kNameSegmentedFormat, kNameSegmented, ShownName(run.settings.stored_name).text);
  Say(frame, kFolderHeadingFormat, kFolderHeading);
  Say(frame, kFolderFormat, ShownName(run.settings.program_directory).text);
  Say(frame, kTotalFormat, kTotal, run.segment_count);
  ComposeSegmentPath(run.segment_path, run.set_base_path, 1);
  Say(frame, kToBindFormat, kToBind,
      ShownName(DisplayName(run.display_name, run.segment_path, frame.paths)).text, kToBindTail);
}

}  // namespace

void SplitInput(RunFrame& frame, const SplitterSettings& settings) {
  SplitRun run{frame,
               settings,
               WorkBuffer(frame, kSetBasePathBuffer),
               WorkBuffer(frame, kSegmentPathBuffer),
               WorkBuffer(frame, kDisplayNameBuffer),
               platform::kNoFile,
               {0, 0},
               platform::kNoFolder,
               false,
               false,
               {},
               {platform::kNoFile, 0},
               {platform::kNoFile, 0},
               0,
               1};
  ComposeSetNames(run);
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  if (buffer.bytes == nullptr) FailOutOfMemory(frame);

  MeasureInput(run);
  RefuseSmallInput(run);
  CountSegments(run);
  ReopenInput(run);
  RefuseSpecialFirstSegment(run);
  PromptOverwrite(frame, run.segment_path);
  ChooseFlushes(run);
  run.first = OpenSegment(run, 1);
  const std::uint64_t header_length = WriteHeader(run);
  CopySegments(run, header_length, buffer);
  RequireInputEnded(run, buffer);
  FlushSet(run);
  SignFirstSegment(run);
  platform::CloseFolder(run.folder);
  platform::CloseFile(run.input);
  ReleaseCopyBuffer(buffer);
  PrintSummary(run);
}
