#include "splitter/splitter_failures.h"

#include <cstring>

#include "common/frame_texts.h"
#include "common/stored_names.h"
#include "common/work_buffers.h"
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
  char shown[EscapedNameSize(kWorkBufferSize)];
  EscapeName(name, std::strlen(name), shown, sizeof shown);
  FailWithError(frame, kDetailWithPathFormat, kNameHoldsControlByte, shown);
}

void FailConfigurationGrammar(RunFrame& frame) {
  Say(frame, kConfigErrorFormat, kErrorHeader, kConfigError);
  FailRun(frame, AbortNotice::kPrint);
}

void FailNameTooLong(RunFrame& frame) { FailWithError(frame, kDetailFormat, kNameTooLong); }

void FailInputNotRegular(RunFrame& frame, const char* input_path) {
  FailWithError(frame, kDetailWithPathFormat, kInputNotRegular, input_path);
}

void FailFitsOneSegment(RunFrame& frame) {
  Say(frame, kTooSmallFormat, kTooSmall);
  Say(frame, kNotSegmentedFormat, kNotSegmented);
  FailRun(frame, AbortNotice::kOmit);
}

void FailTooManySegments(RunFrame& frame) { FailWithError(frame, kDetailFormat, kTooManySegments); }

void FailSegmentNotRegular(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailWithPathFormat, kSegmentNotRegular, segment_path);
}

void FailSegmentIsInput(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailWithPathFormat, kSegmentIsInput, segment_path);
}

void FailCannotCreateSegment(RunFrame& frame, std::int32_t k) {
  FailWithError(frame, k == 1 ? kFirstCannotCreateFormat : kLaterCannotCreateFormat,
                kCannotCreateFile);
}

void FailCannotWriteSegment(RunFrame& frame, const char* segment_path) {
  FailWithError(frame, kDetailWithPathFormat, kCannotWriteSegment, segment_path);
}

void FailCannotReadInput(RunFrame& frame, const char* input_path) {
  FailWithError(frame, kDetailWithPathFormat, kCannotReadInput, input_path);
}

void FailInputChanged(RunFrame& frame) { FailWithError(frame, kDetailFormat, kInputChanged); }
