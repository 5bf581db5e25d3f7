// Morvel: checks that a segment set is complete and binds it back into the
// file it was cut from.
#include "common/run_frame.h"
#include "joiner/joiner_texts.h"
#include "joiner/joining_run.h"
#include "joiner/set_check.h"

int main(int argc, char** argv) {
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
