// Trenzik: cuts one file into a numbered segment set that fits removable media.
#include "common/help_request.h"
#include "common/run_frame.h"
#include "splitter/splitter_settings.h"
#include "splitter/splitter_texts.h"
#include "splitter/splitting_run.h"

int main(int argc, char** argv) {
  switch (FindHelpRequest(argc, argv)) {
    case HelpRequest::kUsage:
      SayHelp(kSplitterProfile, splitter_texts::kSplitterHelp);
      return 0;
    case HelpRequest::kVersion:
      SayHelp(kSplitterProfile, splitter_texts::kSplitterVersion);
      return 0;
    case HelpRequest::kNone:
      break;
  }
  RunFrame frame = MakeRunFrame(kSplitterProfile);
  PrintBanner(frame);
  AllocateRunBuffers(frame);

  SplitterSettings settings{};
  RequireFileArgument(frame, argc);
  LookUpInput(frame, argv[1], &settings);
  const bool command_line_size_set = SegmentSizeFromCommandLine(frame, argc, argv, &settings);
  FindProgramDirectory(frame, argv[0], &settings);
  ApplyConfigurationFile(frame, command_line_size_set, &settings);

  SplitInput(frame, settings);
  FinishRun(frame);
  return 0;
}
