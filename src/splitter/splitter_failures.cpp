#include "splitter/splitter_failures.h"

#include "common/frame_texts.h"
#include "common/shown_names.h"
#include "splitter/splitter_texts.h"

using namespace splitter_texts;

void FailNoFileArgument(RunFrame& frame) {
  SayLines(frame, kSplitterUsage);
  FailRun(frame, AbortNotice::kPrint);
}

void FailPathTooLong(RunFrame& frame) { FailWithError(frame, kDetailFormat, kPathTooLong); }

void FailInputNotFound(RunFrame& frame) {
  SayErrorHeader(frame);
  Say(frame, kFileNotFoundFormat, kFileNotFound);
  Say(frame, kCheckFilenameFormat, kCheckFilename);
  FailRun(frame, AbortNotice::kOmit);
}

void FailNameHoldsControlByte(RunFrame& frame, const char* name) {
  FailWithError(frame, kDetailWithPathFormat, kNameHoldsControlByte, ShownName(name).text);
}

void FailConfigurationGrammar(RunFrame& frame) {
  Say(frame, kConfigErrorFormat, kErrorHeader, kConfigError);
  FailRun(frame, AbortNotice::kPrint);
}

void FailNameTooLong(RunFrame& frame) { FailWithError(frame, kDetailFormat, kNameTooLong); }

void FailInputNotRegular(RunFrame& frame, const char* input_path) {
  FailWithError(frame, kDetailThenPathFormat, kInputNotRegular, ShownName(input_path).text);
}

void FailFitsOneSegment(RunFrame& frame) {
  Say(frame, kTooSmallFormat, kTooSmall);
  Say(frame, kNotSegmentedFormat, kNotSegmented);
  FailRun(frame, AbortNotice::kOmit);
}

void FailTooManySegments(RunFrame& frame) { FailWithError(frame, kDetailFormat, kTooManySegments); }

void FailSegmentNotRegular(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailThenPathFormat, kSegmentNotRegular, ShownName(segment_path).text);
}

void FailSegmentIsInput(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailThenPathFormat, kSegmentIsInput, ShownName(segment_path).text);
}

void FailCannotCreateSegment(RunFrame& frame, std::int32_t k) {
  FailWithError(frame, k == 1 ? kFirstCannotCreateFormat : kLaterCannotCreateFormat,
                kCannotCreateFile);
}

void FailCannotWriteSegment(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailWithPathFormat, kCannotWriteSegment, ShownName(segment_path).text);
}

void FailCannotReadInput(RunFrame& frame, const char* input_path) {
  FailWithError(frame, kDetailWithPathFormat, kCannotReadInput, ShownName(input_path).text);
}

void FailInputChanged(RunFrame& frame) { FailWithError(frame, kDetailFormat, kInputChanged); }
