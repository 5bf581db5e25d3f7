#include "joiner/joiner_failures.h"

#include "common/frame_texts.h"
#include "common/segment_format.h"
#include "common/shown_names.h"
#include "joiner/joiner_texts.h"

using namespace joiner_texts;

namespace {

void ListMember(const RunFrame& frame, const char* text, const char* display_name) {
  Say(frame, kMissingMemberFormat, kErrorHeader, text, ShownName(display_name).text);
}

}  // namespace

void FailNoFileArgument(RunFrame& frame) {
  SayLines(frame, kJoinerUsage);
  FailRun(frame, AbortNotice::kPrint);
}

void FailPathTooLong(RunFrame& frame) { FailWithError(frame, kDetailFormat, kPathTooLong); }

void FailSegmentNotFound(RunFrame& frame) {
  Say(frame, kErrorHeaderFormat, kErrorHeader);
  const bool utf8 = platform::ConsoleShowsUtf8();
  Say(frame, utf8 ? kNotFoundUtf8Format : kNotFoundFormat, kFileNotFound);
  FailRun(frame, AbortNotice::kPrint);
}

void FailFoundNameHoldsControlByte(RunFrame& frame, const char* found_name) {
  FailWithError(frame, kDetailWithNameFormat, kFoundNameHoldsControlByte,
                ShownName(found_name).text);
}

void FailNotFirstSegment(RunFrame& frame) {
  Say(frame, kErrorHeaderFormat, kErrorHeader);
  Say(frame, kNotFirstSegmentFormat, kNotSegmented, kOr, kNotFirst);
  Say(frame, kFirstExtensionFormat, kFirstExtension);
  FailRun(frame, AbortNotice::kPrint);
}

void ListMissingMember(const RunFrame& frame, const char* display_name) {
  ListMember(frame, kFileNotFound, display_name);
}

void ListMisfitMember(const RunFrame& frame, const char* display_name) {
  ListMember(frame, kMisfitMember, display_name);
}

void ListMissingCut(const RunFrame& frame, std::int32_t segment_count) {
  Say(frame, kMissingCutFormat, kErrorHeader, kMissingCut, segment_count, kMissingCutTail);
}

void FailMissingMembers(RunFrame& frame) {
  Say(frame, kMissingSummaryFormat, kMissingSummary);
  FailRun(frame, AbortNotice::kPrint);
}

void FailMisfitMembers(RunFrame& frame) {
  Say(frame, kMissingSummaryFormat, kMisfitSummary);
  FailRun(frame, AbortNotice::kPrint);
}

void FailNameNotPlain(RunFrame& frame, const char* name, std::size_t length) {
  char shown[EscapedNameSize(kMaxStoredNameLength)];
  EscapeName(name, length, shown, sizeof shown);
  FailWithError(frame, kDetailWithNameFormat, kNameNotPlain, shown);
}

void FailOutputIsSegment(RunFrame& frame, const char* output_path) {
  FailWithError(frame, kDetailWithNameFormat, kOutputIsSegment, ShownName(output_path).text);
}

void FailOutputNotRegular(RunFrame& frame, const char* output_path) {
  FailWithError(frame, kDetailThenPathFormat, kOutputNotRegular, ShownName(output_path).text);
}

void FailCannotCreateOutput(RunFrame& frame) {
  FailWithError(frame, kCannotCreateFormat, kCannotCreateFile);
}

void FailCannotOpenSegment(RunFrame& frame, const char* display_name) {
  FailWithError(frame, kDetailWithNameFormat, kCannotOpenSegment, ShownName(display_name).text);
}

void FailSegmentChanged(RunFrame& frame, const char* display_name) {
  FailWithError(frame, kDetailWithNameFormat, kSegmentChanged, ShownName(display_name).text);
}

void FailCannotReadSegment(RunFrame& frame, const char* display_name) {
  FailWithError(frame, kDetailWithNameFormat, kCannotReadSegment, ShownName(display_name).text);
}

void FailCannotWriteOutput(RunFrame& frame, const char* output_path) {
  FailWithError(frame, kDetailWithNameFormat, kCannotWriteOutput, ShownName(output_path).text);
}

void FailOutputAppeared(RunFrame& frame, const char* output_path) {
  FailWithError(frame, kDetailThenPathFormat, kOutputAppeared, ShownName(output_path).text);
}

void FailNoRoomBesideOld(RunFrame& frame, const char* output_path) {
  FailWithError(frame, kTwoDetailsThenPathFormat, kNoRoomForBoth, kOldOutputKept,
                ShownName(output_path).text);
}
