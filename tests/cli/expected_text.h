// What the programs print around every run, written out in full so that a
// change to the frame shows up as a failing comparison.
#pragma once

#include <string>

namespace expected {

inline const std::string kSplitterBanner =
    "\n"
    " =====      Trenzik v1.0 (English version) by its authors      =====\n"
    " =====                --- File Segment Tool ---                =====\n"
    " =====               This software is a freeware               =====\n"
    " =====     Copyright (C) its authors. All rights reserved.     =====\n"
    "\n";

inline const std::string kJoinerBanner =
    "\n"
    " =====      Morvel v1.0 (English version) by its authors       =====\n"
    " =====                 --- File Bind Tool ---                  =====\n"
    " =====               This software is a freeware               =====\n"
    " =====     Copyright (C) its authors. All rights reserved.     =====\n"
    "\n";

// The closing prompt of both endings and the two line ends after its key.
inline const std::string kClosing =
    "\nAfter checking the message above, press any key to exit.\n\n";
inline const std::string kClosingPrompt = "press any key to exit.";

inline const std::string kAborted = " Program aborted. \n";

}  // namespace expected
