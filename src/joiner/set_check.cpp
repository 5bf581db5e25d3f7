#include "joiner/set_check.h"

#include <cstring>
#include <vector>

#include "common/closing_batch.h"
#include "common/named_file.h"
#include "common/path_names.h"
#include "common/segment_format.h"
#include "joiner/joiner_failures.h"
#include "joiner/joiner_texts.h"

static_assert(kScratchBuffer == kJoinerProfile.buffer_count,
              "the profile allocates every work buffer of the joiner");

void RequireSegmentArgument(RunFrame& frame, int argc) {
  if (argc < 2) FailNoFileArgument(frame);
}

void LookUpSet(RunFrame& frame, const char* file_argument, JoinerSet* set) {
  char* found_name = WorkBuffer(frame, kFoundNameBuffer);
  char* directory_part = WorkBuffer(frame, kDirectoryPartBuffer);
  char* set_base_path = WorkBuffer(frame, kSetBasePathBuffer);
  switch (LookUpNamedFile(frame, file_argument, found_name)) {
    case NamedFile::kFound:
      break;
    case NamedFile::kTooLong:
      FailPathTooLong(frame);
    case NamedFile::kAbsent:
      FailSegmentNotFound(frame);
    case NamedFile::kHoldsControlByte:
      FailFoundNameHoldsControlByte(frame, found_name);
  }
  CopyPrefix(directory_part, file_argument, DirectoryPartLength(file_argument, frame.paths));
  // The found name less its last byte, whatever it is: abc.zip.1 gives abc.zip.
  if (!CopyText(set_base_path, directory_part) || !AppendText(set_base_path, found_name)) {
    FailPathTooLong(frame);
  }
  const std::size_t length = std::strlen(set_base_path);
  if (length > 0) set_base_path[length - 1] = '\0';
  set->directory_part = directory_part;
  set->directory_length = std::strlen(directory_part);
  set->set_base_path = set_base_path;
  set->folder = platform::OpenFolder(directory_part);
}

namespace {

char* ComposeMemberPath(RunFrame& frame, const JoinerSet& set, std::int32_t k) {
  char* segment_path = WorkBuffer(frame, kSegmentPathBuffer);
  if (!ComposeSegmentPath(segment_path, set.set_base_path, k)) FailPathTooLong(frame);
  return segment_path;
}

// Segment 1 is opened and its header read once, here; the run copies from
// the same open file. Only the signature and the count decide here: a name
// cut short is refused later, after the members' lists, with the name's
// other faults.
void ReadFirstSegment(RunFrame& frame, JoinerSet& set) {
  platform::FileFacts facts{};
  platform::FileHandle file =
      platform::OpenForReading(InSetFolder(set, ComposeMemberPath(frame, set, 1)), &facts);
  if (!platform::IsOpen(file)) FailNotFirstSegment(frame);
  if (facts.kind != platform::FileKind::kRegular) {
    platform::CloseFile(file);
    FailNotFirstSegment(frame);
  }
  unsigned char bytes[kMaxHeaderLength];
  const std::int64_t read = ReadHeaderBytes(file, bytes);
  const std::size_t size = read < 0 ? 0 : static_cast<std::size_t>(read);
  if (read < 0 || DecodeSegmentStart(bytes, size, &set.segment_count) != HeaderCheck::kValid) {
    platform::CloseFile(file);
    FailNotFirstSegment(frame);
  }
  set.header_whole = DecodeSegmentHeader(bytes, size, &set.header) == HeaderCheck::kValid;
  set.first_segment = file;
  set.first_size = facts.size;
  set.last_size = facts.size;
}

}  // namespace

namespace {

// The size of a member, or false when it is missing: not there, not
// readable, or no regular file (a FIFO or a device is no segment). One
// open and one status call; the close goes with a batch of others.
bool MemberSize(const platform::FolderPath& segment, ClosingBatch& checked, std::uint64_t* size) {
  platform::FileFacts facts{};
  platform::FileHandle member = platform::OpenForReading(segment, &facts);
  if (!platform::IsOpen(member) && MadeRoomToOpen(checked)) {
    member = platform::OpenForReading(segment, &facts);
  }
  if (!platform::IsOpen(member)) return false;
  CloseSoon(checked, member);
  *size = facts.size;
  return facts.kind == platform::FileKind::kRegular;
}

// The format fixes the sizes: every segment but the last is as long as
// segment 1, and the last is shorter (it may be empty).
bool SizeFits(std::uint64_t size, std::int32_t k, std::int32_t count, std::uint64_t first_size) {
  return k < count ? size == first_size : size < first_size;
}

const char* MemberName(RunFrame& frame, const char* segment_path) {
  return DisplayName(WorkBuffer(frame, kScratchBuffer), segment_path, frame.paths);
}

}  // namespace

void CheckSetComplete(RunFrame& frame, JoinerSet& set) {
  ReadFirstSegment(frame, set);
  const std::int32_t count = set.segment_count;

  ClosingBatch checked;
  std::int32_t missing = 0;
  // Members whose size breaks the format, listed once nothing is missing.
  std::vector<std::int32_t> misfits;
  // Whether members 2 .. N-1 all have one size (middle_size).
  bool middle_agrees = true;
  std::uint64_t middle_size = 0;
  // Every member is tried, also after a gap, so that all missing ones are
  // listed; the loop stops at N without stepping past the largest count.
  for (std::int32_t k = 2; k <= count; ++k) {
    char* segment_path = ComposeMemberPath(frame, set, k);
    std::uint64_t size = 0;
    if (!MemberSize(InSetFolder(set, segment_path), checked, &size)) {
      ListMissingMember(frame, MemberName(frame, segment_path));
      // A count that no real set has (a damaged header) is not probed to
      // its end.
      if (++missing == kMaxListedMissing && k < count) {
        ListMissingCut(frame, count);
        break;
      }
    } else {
      if (!SizeFits(size, k, count, set.first_size)) misfits.push_back(k);
      if (k < count) {
        if (k == 2) middle_size = size;
        middle_agrees = middle_agrees && size == middle_size;
      }
    }
    if (k == count) {
      set.last_size = size;
      break;
    }
  }
  CloseBatch(checked);
  if (missing > 0) FailMissingMembers(frame);
  // Segment 1 cut short (or taken from another set) disagrees with every
  // member after it; when those agree among themselves, segment 1 is the
  // one to copy again, and the last is judged by their size.
  if (count >= 3 && middle_agrees && middle_size != set.first_size) {
    misfits.assign(1, 1);
    if (set.last_size >= middle_size) misfits.push_back(count);
  }
  if (!misfits.empty()) {
    for (std::int32_t k : misfits) {
      ListMisfitMember(frame, MemberName(frame, ComposeMemberPath(frame, set, k)));
    }
    FailMisfitMembers(frame);
  }
}
