// Every text the joiner prints, with the format that lays it out.
#pragma once

#include "common/run_frame.h"

inline constexpr FrameProfile kJoinerProfile = {
    "Morvel",
    "--- File Bind Tool ---",
    6,
    "ERROR : ",
    "\n %s\n\n",
    " %s\n\n",
    true,
    "Ok to overwrite file(y/n)?",
    "\n %s\n",
    "Overwriting existing file.",
};

namespace joiner_texts {

// The usage text: one format and one text per line.
inline constexpr FormattedLine kJoinerUsage[] = {
    {"  %s \n ", "ERROR: You must specify filename."},
    {"   %s\n", "  "},
    {"   %s\n", "Before binding, you must put all segmented files in the same folder."},
    {"   %s\n", "  "},
    {"%s\n", "  To use from Windows: "},
    {"%s\n", "    Drag&drop the first segmented file ('*.1' file) to 'Morvel.exe'"},
    {"  \n", nullptr},
    {"  %s\n", "To use from DOS prompt: "},
    {"    %s\n", "Morvel [filename of the first segmented file]"},
    {"  %s\n", "Example: "},
    {"    %s\n\n", "Morvel abc.zip.1"},
};

// --help, -h (on Windows also /?) and --version: plain lines on standard
// output, no banner and no key wait.
inline constexpr FormattedLine kJoinerHelp[] = {
    {"%s\n", "Usage: Morvel FILE.1"},
    {"%s\n", "       Morvel --help | -h | --version"},
    {"%s\n", "Checks that the segment set of which FILE.1 is the first segment is"},
    {"%s\n", "complete and binds it back into the file that Trenzik cut."},
    {"%s\n", ""},
    {"%s\n", "  Every segment of the set must lie in the folder of FILE.1; the bound"},
    {"%s\n", "  file is written into that folder, under the name the set stores."},
    {"%s\n", "  Morvel has no settings: Trenzik.ini and segment sizes are Trenzik's."},
    {"%s\n", "  The check sees missing segments and wrong sizes, not changed bytes:"},
    {"%s\n", "  compare a checksum of the file and of the copy (sha256sum)."},
    {"%s\n", "  Each run asks before it replaces a file and waits for a key at its end."},
    {"%s\n", "  In a script, run it without a terminal: the question then counts as"},
    {"%s\n", "  refused and every wait ends at once, for example"},
    {"%s\n", "    setsid -w Morvel abc.zip.1 </dev/null"},
    {"%s\n", "  Exit status: 0 when the file is bound, 1 after a failure."},
    {"%s\n", ""},
    {"%s\n", "The manual: man Morvel (on Windows, Morvel.txt beside the program)."},
};
inline constexpr FormattedLine kJoinerVersion[] = {
    {"%s\n", "Morvel " TRENZIK_VERSION},
    {"%s\n", "Copyright (C) the Trenzik and Morvel authors. MIT licence: no warranty."},
};

inline constexpr char kErrorHeader[] = "ERROR : ";
// The header alone on its line. Most endings take the profile's layout,
// which adds an empty line; these two do not.
inline constexpr char kErrorHeaderFormat[] = "\n %s\n";

// After the line end an ideographic space: the Shift_JIS bytes, or U+3000
// where the console shows UTF-8 (0x81 0x40 is no character there).
inline constexpr char kNotFoundFormat[] = "\n\x81\x40%s \n\n";
inline constexpr char kNotFoundUtf8Format[] = "\n\xe3\x80\x80%s \n\n";

inline constexpr char kNotFirstSegmentFormat[] = "\n  \"%s\" \n   %s\n  \"%s\"  \n\n";
inline constexpr char kNotSegmented[] = "The file is not segmented with Trenzik.exe";
inline constexpr char kOr[] = "or";
inline constexpr char kNotFirst[] = "The file is not the first segmented file.";
inline constexpr char kFirstExtensionFormat[] = "  %s\n\n";
inline constexpr char kFirstExtension[] = "The first segmented file has extention of \".1\" ";

inline constexpr char kMissingMemberFormat[] = "\n %s %s - %s";
inline constexpr char kMissingSummaryFormat[] = "\n\n  %s \n\n";
inline constexpr char kMissingSummary[] = "File(s) listed above not found.";
// After kMaxListedMissing missing members the list ends with this line and
// the count the header gives: a damaged count would list for hours.
inline constexpr char kMissingCutFormat[] = "\n %s %s %d %s";
inline constexpr char kMissingCut[] = "The list stops here. Segment 1 claims";
inline constexpr char kMissingCutTail[] = "segments.";
// Members that are there but cannot belong to the set as they are (copied
// partly, or from another set): the same layout as the missing ones.
inline constexpr char kMisfitMember[] = "File size does not fit the set.";
inline constexpr char kMisfitSummary[] = "File(s) listed above are damaged or incomplete.";

inline constexpr char kCannotCreateFormat[] = "  %s\n\n";

inline constexpr char kBindingFormat[] = " %s %s....";
inline constexpr char kBinding[] = "Currently binding";
inline constexpr char kDoneFormat[] = " %s\n";

inline constexpr char kSuccessFormat[] = "\n %s\n";
inline constexpr char kSuccess[] = "Successfully binded!";
inline constexpr char kResultFormat[] = "\n %s\n";
inline constexpr char kResult[] = "Result:";
inline constexpr char kNameOfFileFormat[] = "  %s %s\n";
inline constexpr char kNameOfFile[] = "Name of file:";
inline constexpr char kFolderHeadingFormat[] = "  %s\n";
inline constexpr char kFolderHeading[] = "Folder the file was created:";
inline constexpr char kFolderFormat[] = "    %s\n";
inline constexpr char kTotalFormat[] = "  %s %d\n";
inline constexpr char kTotal[] = "Total number of files binded:";

// Failures that have no message of their own above; same layout as "cannot
// create file": the spaced error header, then the detail and an empty line.
inline constexpr char kDetailFormat[] = "  %s\n\n";
inline constexpr char kDetailWithNameFormat[] = "  %s '%s'\n\n";
inline constexpr char kPathTooLong[] = "The path is too long.";
inline constexpr char kNameNotPlain[] = "The stored file name is not a plain file name:";
// The name the folder holds for the named file, with its control bytes
// written as \xNN: the splitter's words for its own input.
inline constexpr char kFoundNameHoldsControlByte[] = "The file name holds a control character:";
inline constexpr char kOutputIsSegment[] = "The output file would replace a segment of the set:";
inline constexpr char kCannotOpenSegment[] = "cannot open file";
inline constexpr char kCannotReadSegment[] = "cannot read file";
inline constexpr char kCannotWriteOutput[] = "cannot write file";
inline constexpr char kSegmentChanged[] = "The segment file changed after the set was checked:";
inline constexpr char kOutputAppeared[] =
    "Another file took the output file's name meanwhile; it is kept:";
// Longer texts: the path on a line of its own, so that each line fits an
// 80-column console.
inline constexpr char kDetailThenPathFormat[] = "  %s\n  '%s'\n\n";
inline constexpr char kTwoDetailsThenPathFormat[] = "  %s\n  %s\n  '%s'\n\n";
inline constexpr char kOutputNotRegular[] =
    "Something that is not a regular file has the output file's name:";
inline constexpr char kNoRoomForBoth[] =
    "The disk has no room for the new file beside the old one.";
inline constexpr char kOldOutputKept[] = "The old file is kept as it was:";

}  // namespace joiner_texts
