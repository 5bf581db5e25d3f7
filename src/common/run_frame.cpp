#include "common/run_frame.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/frame_texts.h"
#include "common/shown_names.h"

RunFrame MakeRunFrame(const FrameProfile& profile) {
  platform::PrepareProcess();
  platform::PrepareConsoleOutput();
  RunFrame frame{};
  frame.profile = &profile;
  frame.allocator = {std::malloc, std::free};
  frame.read_key = platform::ReadKey;
  frame.write_text = platform::WriteConsoleText;
  frame.paths = SystemPathRules();
  return frame;
}

namespace {

// Every message leaves in one piece: a console that receives a double-byte
// character split across two writes shows two broken halves.
void WriteText(const RunFrame& frame, const char* text, std::size_t size) {
  frame.write_text(text, size);
}

void SayList(const RunFrame& frame, const char* format, std::va_list arguments) {
  std::va_list again;
  va_copy(again, arguments);
  // Most messages fit; one with several long paths takes a larger buffer.
  char text[1024];
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof text) {
    WriteText(frame, text, static_cast<std::size_t>(length));
  } else if (length >= 0) {
    std::vector<char> larger(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(larger.data(), larger.size(), format, again);
    WriteText(frame, larger.data(), static_cast<std::size_t>(length));
  }
  va_end(again);
}

}  // namespace

void Say(const RunFrame& frame, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  SayList(frame, format, arguments);
  va_end(arguments);
}

void SayLines(const RunFrame& frame, const FormattedLine* lines, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (lines[i].text != nullptr) {
      Say(frame, lines[i].format, lines[i].text);
    } else {
      Say(frame, "%s", lines[i].format);
    }
  }
}

void FormatFramedLine(const char* text, char* line) {
  std::size_t length = std::strlen(text);
  if (length > kFrameFieldWidth) length = kFrameFieldWidth;
  const std::size_t left = (kFrameFieldWidth - length) / 2;
  char* cursor = line;
  std::memcpy(cursor, " =====", 6);
  cursor += 6;
  std::memset(cursor, ' ', kFrameFieldWidth);
  std::memcpy(cursor + left, text, length);
  cursor += kFrameFieldWidth;
  std::memcpy(cursor, "=====\n", 7);  // with its NUL
}

void PrintBanner(const RunFrame& frame) {
  char title[kFrameFieldWidth + 1];
  std::snprintf(title, sizeof title, "%s %s %s", frame.profile->program_name, kVersionText,
                kCreditText);
  const char* const framed_texts[] = {title, frame.profile->tool_text, kFreewareText, kRightsText};
  // One write for the whole banner: an empty line, the four framed lines,
  // an empty line.
  char banner[1 + 4 * kFramedLineLength + 1 + 1];
  std::size_t length = 0;
  banner[length++] = '\n';
  for (const char* text : framed_texts) {
    FormatFramedLine(text, banner + length);
    length += kFramedLineLength;
  }
  banner[length++] = '\n';
  WriteText(frame, banner, length);
}

void AllocateRunBuffers(RunFrame& frame) {
  const FrameProfile& profile = *frame.profile;
  for (int k = 0; k < profile.buffer_count; ++k) {
    void* block = frame.allocator.allocate(kWorkBufferSize);
    if (block == nullptr) FailOutOfMemory(frame);
    frame.buffers.slot[k] = static_cast<char*>(block);
    frame.buffers.slot[k][0] = '\0';
    frame.buffers.allocated = k + 1;
  }
}

void FailOutOfMemory(RunFrame& frame) {
  FailWithError(frame, frame.profile->out_of_memory_format, kNotEnoughMemory);
}

void ReleaseRunBuffers(RunFrame& frame) {
  for (int k = 0; k < frame.buffers.allocated; ++k) {
    frame.allocator.release(frame.buffers.slot[k]);
    frame.buffers.slot[k] = nullptr;
  }
  frame.buffers.allocated = 0;
}

namespace {

// Whether the question is due. A symbolic link counts, a dangling one too:
// whatever is at the name is about to be replaced. Anything else counts when
// it can be opened for reading; the probe never waits on a FIFO or device.
bool ThereIsAFileToReplace(const char* path) {
  if (platform::LookAtPath(path) == platform::PathKind::kLink) return true;
  platform::FileHandle probe = platform::OpenForReading(path);
  if (!platform::IsOpen(probe)) return false;
  platform::CloseFile(probe);
  return true;
}

}  // namespace

void PromptOverwrite(RunFrame& frame, const char* path) {
  if (!ThereIsAFileToReplace(path)) return;
  Say(frame, kAlreadyExistsFormat, ShownName(path).text, kAlreadyExists);
  Say(frame, kQuestionFormat, frame.profile->overwrite_question);
  const int code = frame.read_key();
  const char answer = static_cast<char>(code & 0xFF);
  Say(frame, kAnswerEchoFormat, answer);
  if (answer == 'Y' || answer == 'y') {
    Say(frame, frame.profile->acceptance_format, frame.profile->acceptance_line);
    return;
  }
  FailRun(frame, AbortNotice::kPrint);
}

void FailRun(RunFrame& frame, AbortNotice notice) {
  if (notice == AbortNotice::kPrint) Say(frame, kAbortNoticeFormat, kAbortNotice);
  ReleaseRunBuffers(frame);
  AbortRun(frame);
}

void SayErrorHeader(const RunFrame& frame) {
  Say(frame, frame.profile->error_header_format, frame.profile->error_header);
}

void FailWithError(RunFrame& frame, const char* detail_format, ...) {
  SayErrorHeader(frame);
  std::va_list arguments;
  va_start(arguments, detail_format);
  SayList(frame, detail_format, arguments);
  va_end(arguments);
  const bool notice = frame.profile->abort_notice_after_error;
  FailRun(frame, notice ? AbortNotice::kPrint : AbortNotice::kOmit);
}

void AbortRun(RunFrame& frame) {
  Say(frame, kClosingPromptFormat, kClosingPrompt);
  frame.read_key();
  Say(frame, "\n\n");
  std::exit(1);
}

void FinishRun(RunFrame& frame) {
  ReleaseRunBuffers(frame);
  Say(frame, kClosingPromptFormat, kClosingPrompt);
  frame.read_key();
  Say(frame, "\n\n");
}
