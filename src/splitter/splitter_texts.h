// Every text the splitter prints, with the format that lays it out.
#pragma once

#include "common/run_frame.h"

inline constexpr char kSplitterName[] = "Trenzik";
inline constexpr char kConfigurationFileName[] = "Trenzik.ini";

inline constexpr FrameProfile kSplitterProfile = {
    kSplitterName,
    "--- File Segment Tool ---",
    7,
    "ERROR:",
    "\n%s\n",
    "%s\n",
    false,
    "Ok to overwrite all files(y/n)?",
    " %s\n\n",
    "Overwriting all existing files.",
};

namespace splitter_texts {

// The usage text: one format and one text per line.
inline constexpr FormattedLine kSplitterUsage[] = {
    {"%s\n\n", "  ERROR: You must specify filename."},
    {"%s\n", "  To use from Windows: "},
    {"%s\n", "    Drag&drop the file you want to segment on 'Trenzik.exe'"},
    {"%s\n", "    Segment size is read from 'Trenzik.ini'."},
    {"%s\n", "  "},
    {"%s\n", "  To use from DOS prompt: "},
    {"%s\n", "    Trenzik [filename] [segment size]"},
    {"%s\n", "    You may omit [segment size] in which case, [segment size]"},
    {"%s\n", "    is read from 'Trenzik.ini' file (Use 1440000 for 1.44M,"},
    {"%s\n", "    720000 for 720K)"},
    {"  \n", nullptr},
    {"%s\n", "    Example: Trenzik abc.zip 720000"},
    {"%s\n", "  "},
};

// --help, -h (on Windows also /?) and --version: plain lines on standard
// output, no banner and no key wait.
inline constexpr FormattedLine kSplitterHelp[] = {
    {"%s\n", "Usage: Trenzik FILE [SEGMENT-SIZE]"},
    {"%s\n", "       Trenzik --help | -h | --version"},
    {"%s\n", "Cuts FILE into a segment set FILE.1, FILE.2, ... of at most SEGMENT-SIZE"},
    {"%s\n", "bytes each, for removable media; Morvel checks a set and binds it back."},
    {"%s\n", ""},
    {"%s\n", "  The set goes into the program's own folder, the folder part of its path"},
    {"%s\n", "  as typed, not next to FILE. Started by its bare name (Trenzik abc.zip)"},
    {"%s\n", "  it writes into the current folder."},
    {"%s\n", "  Without SEGMENT-SIZE the size comes from Trenzik.ini in that same folder"},
    {"%s\n", "  (for a bare name: /Trenzik.ini, on Windows \\Trenzik.ini, in the root"},
    {"%s\n", "  folder), else it is 1440000."},
    {"%s\n", "  Sizes are plain bytes from 512 to 2000000000; a suffix is not read, so"},
    {"%s\n", "  700M is 700 bytes. 1440000 fits a 1.44M diskette, 720000 a 720K one."},
    {"%s\n", "  Each run asks before it replaces a set and waits for a key at its end."},
    {"%s\n", "  In a script, run it without a terminal: the question then counts as"},
    {"%s\n", "  refused and every wait ends at once, for example"},
    {"%s\n", "    setsid -w Trenzik abc.zip 720000 </dev/null"},
    {"%s\n", "  Exit status: 0 when the whole set is written, 1 after a failure."},
    {"%s\n", ""},
    {"%s\n", "The manual: man Trenzik (on Windows, Trenzik.txt beside the program)."},
};
inline constexpr FormattedLine kSplitterVersion[] = {
    {"%s\n", "Trenzik " TRENZIK_VERSION},
    {"%s\n", "Copyright (C) the Trenzik and Morvel authors. MIT licence: no warranty."},
};

// Errors: the profile's header on a line of its own, then the detail.
// The configuration error prints the header within its line.
inline constexpr char kErrorHeader[] = "ERROR:";
inline constexpr char kFileNotFoundFormat[] = "  %s \n";
inline constexpr char kCheckFilenameFormat[] = "  %s\n";
inline constexpr char kCheckFilename[] = "Check the filename and try again.";

// Segment size from the command line and the configuration file.
inline constexpr char kSizeSetFormat[] = " %s %d\n\n";
inline constexpr char kSizeSetFromFileFormat[] = "  %s %d\n";
inline constexpr char kSizeSetTo[] = "[segment size] is set to:";
inline constexpr char kSizeInvalidFormat[] = " %s";
inline constexpr char kSizeInvalid[] = "[segment size] is too small, too large, or invalid. ";
inline constexpr char kSizeRangeFormat[] = "\n %s\n";
inline constexpr char kSizeRange[] =
    "Valid [segment size] is a number between 512 and 2000000000(2GB)";
inline constexpr char kSizeResetFormat[] = " %s %d\n";
inline constexpr char kConfigNotFoundFormat[] = "\n %s.\n";
inline constexpr char kConfigNotFound[] = "'Trenzik.ini' file not found.";
inline constexpr char kSizeDefaultFormat[] = " %s %d\n\n";
inline constexpr char kSizeSetToDefault[] = "[segment size] is set to default:";
// The command line set the size and no file can change it: say so plainly.
inline constexpr char kSizeKeptFormat[] = " %s %d\n\n";
inline constexpr char kSizeKeptFromCommandLine[] = "[segment size] is set from the command line:";
inline constexpr char kReadingConfigFormat[] = " %s\n";
inline constexpr char kReadingConfig[] = "Reading values from 'Trenzik.ini'.";
inline constexpr char kFinishedConfigFormat[] = " %s\n";
inline constexpr char kFinishedConfig[] = "Finished reading from 'Trenzik.ini' file.";
inline constexpr char kAfterConfig[] = " \n";
inline constexpr char kConfigErrorFormat[] = "\n %s %s.\n";
inline constexpr char kConfigError[] = "There is an error in 'Trenzik.ini'.";

// The splitting run.
inline constexpr char kStepFormat[] = " %s";
inline constexpr char kCalculatingSize[] = "Calculating file size....";
inline constexpr char kWritingHeader[] = "writing header....";
inline constexpr char kDoneLineFormat[] = " %s\n";
inline constexpr char kTooSmallFormat[] = "\n %s \n";
inline constexpr char kTooSmall[] = "File size is smaller than or equals to [segment size].";
inline constexpr char kNotSegmentedFormat[] = " %s\n";
inline constexpr char kNotSegmented[] = "File will not be segmented.";
inline constexpr char kWritingToFormat[] = "\n %s %s....";
inline constexpr char kWritingTo[] = "writing to";
inline constexpr char kFirstCannotCreateFormat[] = "  %s\n";
inline constexpr char kLaterCannotCreateFormat[] = " %s\n";

inline constexpr char kSuccessFormat[] = "\n %s\n";
inline constexpr char kSuccess[] = "Successfully segmented!";
inline constexpr char kResultFormat[] = "\n %s\n";
inline constexpr char kResult[] = "Reult :";
inline constexpr char kNameSegmentedFormat[] = "  %s %s\n";
inline constexpr char kNameSegmented[] = "Name of the file segmented:";
inline constexpr char kFolderHeadingFormat[] = "  %s\n";
inline constexpr char kFolderHeading[] = "Name of the folder segmented files created :";
inline constexpr char kFolderFormat[] = "    %s\n";
inline constexpr char kTotalFormat[] = "  %s %d\n";
inline constexpr char kTotal[] = "Total number of segment files:";
inline constexpr char kToBindFormat[] = "\n %s '%s' %s\n";
inline constexpr char kToBind[] = "To bind the segmented files, just drag&drop";
inline constexpr char kToBindTail[] = "file on 'Morvel' (Morvel.exe) program.";

// Failures that have no message of their own above; same layout as the
// others: the error header, then "  " and the detail.
inline constexpr char kDetailFormat[] = "  %s\n";
inline constexpr char kDetailWithPathFormat[] = "  %s '%s'\n";
inline constexpr char kPathTooLong[] = "The path is too long.";
inline constexpr char kNameTooLong[] = "The file name is longer than 255 bytes.";
inline constexpr char kTooManySegments[] =
    "The file is too large: it would need more than 2147483647 segment files.";
inline constexpr char kCannotReadInput[] = "cannot read file";
inline constexpr char kCannotWriteSegment[] = "cannot write file";
inline constexpr char kInputChanged[] = "The file changed while it was being segmented.";
// With the name, its control bytes written as \xNN.
inline constexpr char kNameHoldsControlByte[] = "The file name holds a control character:";
// Files that are not what their names promise: a pipe, a socket or a
// device given as the input or lying at a segment's name, the input itself
// reached by a segment's name (a hard link). The path gets a line of its
// own, so that the text fits an 80-column console.
inline constexpr char kDetailThenPathFormat[] = "  %s\n  '%s'\n";
inline constexpr char kInputNotRegular[] =
    "Not a regular file or a block device, so it cannot be segmented:";
inline constexpr char kSegmentNotRegular[] =
    "Something that is not a regular file has a segment file's name:";
inline constexpr char kSegmentIsInput[] =
    "Writing this segment file would destroy the file being segmented:";

}  // namespace splitter_texts
