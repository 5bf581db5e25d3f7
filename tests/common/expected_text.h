// What the programs print and write, built from their message formats and
// written out in full here, once, for the POSIX whole-program tests
// (tests/cli/) and the Windows ones under Wine (tests/windows/): a change to
// a message shows up as a failing comparison in both.
#pragma once

#include <cstdint>
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

// The first bytes of segment 1: the signature, the count (signed,
// little-endian), the name's length and the name.
inline std::string SegmentHeader(std::int32_t count, const std::string& name) {
  std::string header = "tavex";
  const auto bits = static_cast<std::uint32_t>(count);
  for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>((bits >> shift) & 0xFF);
  header += static_cast<char>(name.size() & 0xFF);
  return header + name;
}

// A detail text with the path on a line of its own below it, both
// indented by two blanks: what follows the error header.
inline std::string ThenPath(const std::string& text, const std::string& path) {
  return text + "\n  '" + path + "'";
}

namespace splitter {

inline const std::string kInputNotRegular =
    "Not a regular file or a block device, so it cannot be segmented:";
inline const std::string kSegmentNotRegular =
    "Something that is not a regular file has a segment file's name:";
inline const std::string kSegmentIsInput =
    "Writing this segment file would destroy the file being segmented:";

inline const std::string kQuestion = " Ok to overwrite all files(y/n)? ";

inline const std::string kNotFound =
    "\nERROR:\n"
    "  File not found. \n"
    "  Check the filename and try again.\n";

// The configuration file: missing, or read line by line.
inline const std::string kNoIniDefault =
    "\n 'Trenzik.ini' file not found..\n"
    " [segment size] is set to default: 1440000\n\n";
inline const std::string kReading = " Reading values from 'Trenzik.ini'.\n";
inline std::string SizeFromFile(const std::string& number) {
  return "  [segment size] is set to: " + number + "\n";
}
inline const std::string kFinished = " Finished reading from 'Trenzik.ini' file.\n \n";
// A file with one valid entry.
inline std::string IniRead(int segment_size) {
  return kReading + SizeFromFile(std::to_string(segment_size)) + kFinished;
}

inline const std::string kMeasured = " Calculating file size.... Done!\n";

// " writing header...." and the lines of segments 1 .. count, the last
// one ending in its dots: where a run stops that fails in that segment.
inline std::string Writing(const std::string& stored_name, int count) {
  std::string written = " writing header.... Done!";
  for (int k = 1; k <= count; ++k) {
    written += (k > 1 ? " Done!\n writing to " : "\n writing to ") + stored_name + "." +
               std::to_string(k) + "....";
  }
  return written;
}

// " writing header...." up to the last line of the report.
inline std::string SplitWritten(const std::string& stored_name, const std::string& folder,
                                int count) {
  return Writing(stored_name, count) +
         " Done!\n\n Successfully segmented!\n\n Reult :\n  Name of the file segmented: " +
         stored_name + "\n  Name of the folder segmented files created :\n    " + folder +
         "\n  Total number of segment files: " + std::to_string(count) +
         "\n\n To bind the segmented files, just drag&drop '" + stored_name +
         ".1' file on 'Morvel' (Morvel.exe) program.\n";
}

// The size given on the command line, with no Trenzik.ini beside the program.
inline std::string SizeFromCommandLine(const std::string& number) {
  return " [segment size] is set to: " + number + "\n\n" +
         "\n 'Trenzik.ini' file not found..\n"
         " [segment size] is set from the command line: " +
         number + "\n\n";
}

// The overwrite question about the segment 1 at `path`, and what follows
// its accepting key.
inline std::string Asked(const std::string& path) {
  return " '" + path + "' already exists.\n" + kQuestion;
}
inline const std::string kAccepted = "y\n\n Overwriting all existing files.\n\n";

inline std::string Error(const std::string& detail) { return "\nERROR:\n  " + detail + "\n"; }

// A whole run's output around what lies between the banner and the closing prompt.
inline std::string Console(const std::string& body) { return kSplitterBanner + body + kClosing; }

}  // namespace splitter

namespace joiner {

inline const std::string kOutputNotRegular =
    "Something that is not a regular file has the output file's name:";
inline const std::string kNoRoomForBoth =
    "The disk has no room for the new file beside the old one.\n  The old file is kept as it was:";

inline const std::string kQuestion = " Ok to overwrite file(y/n)? ";

// After a Shift_JIS ideographic space (0x81 0x40).
inline const std::string kNotFound =
    "\n ERROR : \n\n\x81\x40"
    "File not found. \n\n";
// The same where the locale's codeset is UTF-8 (POSIX): U+3000.
inline const std::string kNotFoundUtf8 =
    "\n ERROR : \n\n\xe3\x80\x80"
    "File not found. \n\n";

// One segment's progress line.
inline std::string Bound(const std::string& display_name) {
  return " Currently binding " + display_name + ".... Done!\n";
}
// The lines of segments 1 .. count; `base_name` ends in the dot.
inline std::string BoundAll(const std::string& base_name, int count) {
  std::string lines;
  for (int k = 1; k <= count; ++k) lines += Bound(base_name + std::to_string(k));
  return lines;
}
inline std::string Summary(const std::string& name, const std::string& folder, int total) {
  return "\n Successfully binded!\n"
         "\n Result:\n"
         "  Name of file: " + name + "\n"
         "  Folder the file was created:\n"
         "    " + folder + "\n"
         "  Total number of files binded: " + std::to_string(total) + "\n";
}
// Every progress line and the summary of a whole set.
inline std::string Joined(const std::string& segment_base, const std::string& stored_name,
                          const std::string& folder, int count) {
  return BoundAll(segment_base + ".", count) + Summary(stored_name, folder, count);
}

inline const std::string kNotFirst =
    "\n ERROR : \n"
    "\n  \"The file is not segmented with Trenzik.exe\" \n   or\n"
    "  \"The file is not the first segmented file.\"  \n\n"
    "  The first segmented file has extention of \".1\" \n\n" +
    kAborted;

inline std::string Failure(const std::string& detail) {
  return "\n ERROR : \n\n  " + detail + "\n\n" + kAborted;
}

// The list of missing members (each line from MissingLine) and its end.
inline std::string MissingLine(const std::string& display_name) {
  return "\n ERROR :  File not found. - " + display_name;
}
inline std::string MissingListed(const std::string& lines) {
  return lines + "\n\n  File(s) listed above not found. \n\n" + kAborted;
}

// The overwrite question about the output at `path`, the echo of the key
// that answered it, and what follows an accepting one.
inline std::string Asked(const std::string& path, const std::string& echo) {
  return " '" + path + "' already exists.\n" + kQuestion + echo + "\n\n";
}
inline const std::string kOverwriting = "\n Overwriting existing file.\n";

inline std::string Console(const std::string& body) { return kJoinerBanner + body + kClosing; }

}  // namespace joiner

}  // namespace expected
