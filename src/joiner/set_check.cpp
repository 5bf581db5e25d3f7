#include "joiner/set_check.h"

#include <cstring>

#include "common/frame_texts.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "joiner/joiner_texts.h"

using namespace joiner_texts;

void FailWithDetail(RunFrame& frame, const char* detail) {
  Say(frame, kErrorHeaderSpacedFormat, kErrorHeader);
  Say(frame, kDetailFormat, detail);
  FailRun(frame, AbortNotice::kPrint);
}

void FailWithName(RunFrame& frame, const char* detail, const char* name) {
  Say(frame, kErrorHeaderSpacedFormat, kErrorHeader);
  Say(frame, kDetailWithNameFormat, detail, name);
  FailRun(frame, AbortNotice::kPrint);
}

void RequireSegmentArgument(RunFrame& frame, int argc) {
  if (argc >= 2) return;
  SayLines(frame, kJoinerUsage);
  FailRun(frame, AbortNotice::kPrint);
}

void LookUpSet(RunFrame& frame, const char* file_argument, JoinerSet* set) {
  char* found_name = WorkBuffer(frame, kFoundNameBuffer);
  char* directory_part = WorkBuffer(frame, kDirectoryPartBuffer);
  char* set_base_path = WorkBuffer(frame, kSetBasePathBuffer);
  if (std::strlen(file_argument) >= kWorkBufferSize) FailWithDetail(frame, kPathTooLong);
  platform::EntryLookup lookup =
      platform::FindDirectoryEntry(file_argument, found_name, kWorkBufferSize);
  if (!lookup.found) {
    Say(frame, kErrorHeaderFormat, kErrorHeader);
    Say(frame, kNotFoundFormat, kFileNotFound);
    FailRun(frame, AbortNotice::kPrint);
  }
  if (lookup.release_failed) Say(frame, kUnableToCloseFormat, kUnableToCloseHandle);

  CopyPrefix(directory_part, file_argument, DirectoryPartLength(file_argument));
  // The found name less its last byte, whatever it is: abc.zip.1 gives abc.zip.
  if (!CopyText(set_base_path, directory_part) || !AppendText(set_base_path, found_name)) {
    FailWithDetail(frame, kPathTooLong);
  }
  const std::size_t length = std::strlen(set_base_path);
  if (length > 0) set_base_path[length - 1] = '\0';
  set->directory_part = directory_part;
  set->set_base_path = set_base_path;
}


namespace {

[[noreturn]] void FailNotFirstSegment(RunFrame& frame) {
  Say(frame, kErrorHeaderFormat, kErrorHeader);
  Say(frame, kNotFirstSegmentFormat, kNotSegmented, kOr, kNotFirst);
  Say(frame, kFirstExtensionFormat, kFirstExtension);
  FailRun(frame, AbortNotice::kPrint);
}

char* ComposeMemberPath(RunFrame& frame, const JoinerSet& set, std::int32_t k) {
  char* segment_path = WorkBuffer(frame, kSegmentPathBuffer);
  if (!ComposeSegmentPath(segment_path, set.set_base_path, k)) FailWithDetail(frame, kPathTooLong);
  return segment_path;
}

}  // namespace

FirstSegment OpenFirstSegment(RunFrame& frame, const JoinerSet& set) {
  platform::FileHandle file = platform::OpenForReading(ComposeMemberPath(frame, set, 1));
  if (!platform::IsOpen(file)) FailNotFirstSegment(frame);
  unsigned char bytes[kMaxHeaderLength];
  std::int64_t size = ReadHeaderBytes(file, bytes);
  std::int32_t count = 0;
  if (size < 0 || DecodeSegmentStart(bytes, static_cast<std::size_t>(size), &count) !=
                      HeaderCheck::kValid) {
    FailNotFirstSegment(frame);
  }
  return {file, count};
}

void CheckSetComplete(RunFrame& frame, const JoinerSet& set) {
  FirstSegment first = OpenFirstSegment(frame, set);
  platform::CloseFile(first.file);

  char* display_name = WorkBuffer(frame, kScratchBuffer);
  bool missing = false;
  // Every member is tried, also after a gap, so that all missing ones are
  // listed; the loop stops at N without stepping past the largest count.
  for (std::int32_t k = 1; k <= first.segment_count; ++k) {
    char* segment_path = ComposeMemberPath(frame, set, k);
    platform::FileHandle probe = platform::OpenForReading(segment_path);
    if (platform::IsOpen(probe)) {
      platform::CloseFile(probe);
    } else {
      CopyText(display_name, segment_path);
      StripToBaseName(display_name);
      Say(frame, kMissingMemberFormat, kErrorHeader, kFileNotFound, display_name);
      missing = true;
    }
    if (k == first.segment_count) break;
  }
  if (missing) {
    Say(frame, kMissingSummaryFormat, kMissingSummary);
    FailRun(frame, AbortNotice::kPrint);
  }
}
