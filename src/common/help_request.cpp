#include "common/help_request.h"

#include <cstring>

#include "platform/platform.h"

HelpRequest FindHelpRequest(int argc, char** argv) {
  if (argc != 2) return HelpRequest::kNone;
  const char* word = argv[1];
  HelpRequest request = HelpRequest::kNone;
  if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0) {
    request = HelpRequest::kUsage;
  } else if (std::strcmp(word, "--version") == 0) {
    request = HelpRequest::kVersion;
  } else if (platform::kPathSeparator == '\\' && std::strcmp(word, "/?") == 0) {
    // Where paths use the backslash, /? is how every console program is
    // asked for its usage.
    request = HelpRequest::kUsage;
  }
  if (request != HelpRequest::kNone && platform::LookAtPath(word) != platform::PathKind::kAbsent) {
    return HelpRequest::kNone;
  }
  return request;
}

void SayHelp(const FrameProfile& profile, const FormattedLine* lines, std::size_t count) {
  const RunFrame frame = MakeRunFrame(profile);
  SayLines(frame, lines, count);
}
