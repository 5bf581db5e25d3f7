// Morvel: checks that a segment set is complete and binds it back into the
// file it was cut from.
#include "common/help_request.h"
#include "common/run_frame.h"
#include "joiner/joiner_texts.h"
#include "joiner/joining_run.h"
#include "joiner/set_check.h"

int main(int argc, char** argv) {
  switch (FindHelpRequest(argc, argv)) {
    case HelpRequest::kUsage:
      SayHelp(kJoinerProfile, joiner_texts::kJoinerHelp);
      return 0;
    case HelpRequest::kVersion:
      SayHelp(kJoinerProfile, joiner_texts::kJoinerVersion);
      return 0;
    case HelpRequest::kNone:
      break;
  }
  RunFrame frame = MakeRunFrame(kJoinerProfile);
  PrintBanner(frame);
  AllocateRunBuffers(frame);

  JoinerSet set{};
  RequireSegmentArgument(frame, argc);
  LookUpSet(frame, argv[1], &set);
  CheckSetComplete(frame, set);

  JoinSegments(frame, set);
  FinishRun(frame);
  return 0;
}
