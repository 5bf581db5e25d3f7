// A command line that asks for the usage or the version instead of naming a
// file: --help, -h or --version as the only word (where the backslash
// separates paths, /? too). It asks only when no file of that name exists:
// a file called --help is still cut or bound like any other.
#pragma once

#include "common/run_frame.h"

enum class HelpRequest { kNone, kUsage, kVersion };

HelpRequest FindHelpRequest(int argc, char** argv);

// Prints the lines to standard output, with no banner and no key wait; the
// program then ends with status 0.
void SayHelp(const FrameProfile& profile, const FormattedLine* lines, std::size_t count);
template <std::size_t N>
void SayHelp(const FrameProfile& profile, const FormattedLine (&lines)[N]) {
  SayHelp(profile, lines, N);
}
