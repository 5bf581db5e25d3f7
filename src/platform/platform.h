// The platform layer: everything that differs between Win32 and POSIX.
// One implementation per platform, split by concern (win32/, posix/);
// CMake compiles exactly one of them. Program logic calls only what is here.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define TRENZIK_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define TRENZIK_PRINTF_FORMAT(format_index, first_argument)
#endif

namespace platform {

// The byte that separates path components: '\\' on Win32, '/' on POSIX.
extern const char kPathSeparator;
// Every byte that would make a file name reach into another folder: the
// separator, and on Win32 also the slash and the drive colon.
extern const char kNameSeparators[];
// Whether a file name such as NUL or com1.zip names a device instead of a
// file in its folder: true on Win32, false on POSIX.
extern const bool kRefusesDeviceNames;

// An open file: a file descriptor on POSIX, a HANDLE on Win32.
struct FileHandle {
  std::intptr_t value;
};
inline constexpr FileHandle kNoFile{-1};
inline bool IsOpen(FileHandle file) { return file.value != kNoFile.value; }

// What an open file is. Only regular files (and, as an input, block
// devices) are read or written; everything else is refused by the callers.
enum class FileKind { kRegular, kBlockDevice, kOther };
// Which file it is: device and inode on POSIX, volume serial number and
// file index on Win32.
struct FileIdentity {
  std::uint64_t volume;
  std::uint64_t index;
};
inline bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}
struct FileFacts {
  FileKind kind;
  std::uint64_t size;  // a regular file's length, a block device's capacity, else 0
  FileIdentity identity;
};

// Opens a file for binary reading, following a symbolic link; kNoFile on
// failure. A folder is never opened as a file, and the open never waits (a
// FIFO without a writer, a device), whatever the file is.
FileHandle OpenForReading(const char* path);
// The same, with what was opened, taken from the one status call the open
// makes anyway.
FileHandle OpenForReading(const char* path, FileFacts* facts);
// Opens a file for binary reading and asks nothing about it: for a file a
// check has just measured, whose copy (CopyWholeFile) then finds out by
// itself whether it still is that file. The open never waits; a folder, a
// FIFO or a device found here fails the copy's reads or its length.
FileHandle OpenToCopy(const char* path);

// A folder opened once, so that many files in it are opened by name without
// the whole path being looked up again for each (POSIX: openat on the
// folder's descriptor). Where it cannot be opened, and on Win32, `handle`
// is kNoFile and the whole paths are used.
struct Folder {
  FileHandle handle;
};
inline constexpr Folder kNoFolder{kNoFile};
// `directory_part` ends in a separator or is empty (the current folder).
Folder OpenFolder(const char* directory_part);
void CloseFolder(Folder folder);
// A file in `folder`: `path` is its whole path, and the part of it from
// `name_offset` on is its name within the folder.
struct FolderPath {
  Folder folder;
  const char* path;
  std::size_t name_offset;
};
// OpenForReading and OpenToCopy of a file in a folder.
FileHandle OpenForReading(const FolderPath& file, FileFacts* facts);
FileHandle OpenToCopy(const FolderPath& file);

// What a name itself is, a symbolic link not followed.
enum class PathKind { kAbsent, kRegular, kLink, kFolder, kOther };
PathKind LookAtPath(const char* path);
// True when the existing file at `path` may be opened for writing; nothing
// is changed and the open never waits. A name that is replaced rather than
// written (a new file renamed over it) is still only replaced where the file
// could have been written.
bool MayBeWritten(const char* path);

// Opens the file at `path` to be written from offset 0 in place (nothing is
// truncated), or creates it when there is none. A symbolic link or a file
// with other hard links at `path` is never written through: the name is
// removed and a new file created in its place. Win32, where Wine shows a
// link to a file as a plain file, writes no existing file in place: a new
// one is renamed over the name, and a folder or folder link there fails. When
// the file at `path` is `guarded` nothing is written and kIsGuarded comes
// back; a FIFO, socket or device there gives kNotRegular.
enum class OverwriteOpen { kOpened, kIsGuarded, kNotRegular, kFailed };
struct OverwriteTarget {
  FileHandle file;
  std::uint64_t old_size;  // what the file held before; 0 for a new one
};
OverwriteOpen OpenForOverwrite(const char* path, const FileIdentity& guarded,
                               OverwriteTarget* target);
// Cuts an open file to `size` bytes; false on failure.
bool TruncateFile(FileHandle file, std::uint64_t size);

// Sets the process up once at its start: a file-size limit makes writes
// fail (EFBIG) instead of killing the process, and every signal that would
// end the run first puts the terminal's mode back and removes a temporary
// file still being written (Win32: a console control event).
void PrepareProcess();
// False when the close reported an error (a write-behind that failed).
bool CloseFile(FileHandle file);
// Closes files that were only read, with as few calls as the system allows
// (POSIX on Linux: one for each run of consecutive descriptors); reorders
// `files`. Nothing else is closed, whatever lies between them.
void CloseReadFiles(FileHandle* files, std::size_t count);
// How many files the process may hold open at once, and whether the last
// failed open failed for want of one (its own or the system's).
std::size_t OpenFilesAllowed();
bool LastOpenRanOutOfHandles();
// True when the last failed write, flush or close ran out of room on its
// disk (not a file-size limit).
bool LastFailureWasNoRoom();

// Puts what was written to `file` on the medium: its bytes and what is
// needed to read them back (POSIX: fdatasync; Win32: FlushFileBuffers).
// False when the medium reports a failure.
bool FlushFile(FileHandle file);
// Puts the names in `folder` on the medium (POSIX: fsync of the folder).
// False when it fails or the folder is not open for it; Win32 keeps names
// as it writes them and has nothing to do.
bool FlushFolder(Folder folder);
// Whether FlushFileSystem exists here: one call for everything written to a
// file system (Linux: syncfs), cheaper than a flush per file when the files
// are many and small.
extern const bool kFlushesWholeFileSystems;
// Puts everything written to the file system `file_on_it` lies on, names
// included, on the medium; false when it fails or cannot be done here.
bool FlushFileSystem(FileHandle file_on_it);
// Writes what a run has written to the medium while the run goes on, so
// that the flush at the end finds little left to do. On Linux a thread of
// its own calls sync_file_range on a copy of each handle it is given: the
// write-back of one segment and the copy of the next take a core each,
// where one thread would take turns. A few requests at most are in hand
// (each holds a descriptor); the next waits for one of them. Without the
// thread the write-back starts on the caller's; elsewhere nothing happens.
// Not a flush, and no failure of the run: the flush at the end decides.
struct WriteBehind {
  int requests = -1;  // to the thread: one handle and range per request
  int requests_read = -1;
  int done = -1;  // from the thread: one byte per request done
  int done_read = -1;
  int in_hand = 0;
  alignas(8) unsigned char thread[16] = {};
};
void BeginWriteBehind(WriteBehind& behind);
void StartWriteBack(WriteBehind& behind, FileHandle file, std::uint64_t offset,
                    std::uint64_t length);
// Waits for the requests in hand and ends the thread.
void EndWriteBehind(WriteBehind& behind);

// A file's new contents, written under a temporary name in the target's
// folder and put in the target's place in one step once whole, so that until
// then the old file stays as it was. At most one exists at a time. Until it
// is committed or discarded, an ending by signal (Win32: a console control
// event) removes the temporary file first.
struct Replacement {
  FolderPath target;
  PathKind old_kind;  // what the target's name held when the run looked
  FileHandle file;    // the temporary file, open for writing at offset 0
  // The old file's mode, owner and group (Win32: its attributes), given to
  // the new one at the commit.
  bool keeps_old_facts;
  std::uint32_t old_mode;
  std::int64_t old_owner;
  std::int64_t old_group;
  char temporary[600];  // the temporary file's name (whole path without a folder)
};
enum class ReplacementStart { kStarted, kTooLong, kFailed };
// Creates the temporary file (never over an existing file, never through a
// link) and takes the facts of a regular file at the target.
ReplacementStart BeginReplacement(const FolderPath& target, PathKind old_kind,
                                  Replacement* replacement);
enum class ReplacementEnd {
  kCommitted,
  kNotWritten,        // flushing or closing the new contents failed
  kTargetTaken,       // a file appeared at a name that was free and is kept
  kNotMoved,          // the rename failed
  kFolderNotFlushed,  // in place, but its name may not be on the medium
};
// Gives the new file the old one's facts, flushes and closes it, renames it
// over the target (a link there is replaced, its target left alone; where
// the name was free, nothing that came since is replaced) and flushes the
// folder. Unless it ends kCommitted or kFolderNotFlushed, the temporary file
// is still there to be discarded.
ReplacementEnd CommitReplacement(Replacement* replacement);
// Closes and removes the temporary file; errno is left as it was.
void DiscardReplacement(Replacement* replacement);

// Reads up to `size` bytes at `offset`: the count read, 0 at end of file,
// -1 on a read error.
std::int64_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size);
// Writes all `size` bytes at `offset`; false on any failure (a full disk too).
bool WriteAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size);

// True when both paths name the same existing file.
bool SameFile(const char* path_a, const char* path_b);

// Block copy between two open files at explicit offsets. The loop through
// the caller's buffer (ReadAt, WriteAt) lives in common/copy_buffer.h; the
// platform offers only the kernel's own way of moving the bytes.

// A pipe the kernel moves file pages through (Linux); closed ends where
// there is none. Made once per run, so a copy costs no pipe of its own.
struct CopyPipe {
  FileHandle read_end = kNoFile;
  FileHandle write_end = kNoFile;
  std::size_t capacity = 0;  // bytes it holds at most; 0 when there is no pipe
};
// A pipe enlarged to `capacity` bytes where the system allows, else one of
// its usual size; a CopyPipe without ends when none can be made.
CopyPipe OpenCopyPipe(std::size_t capacity);
void CloseCopyPipe(CopyPipe pipe);

struct CopyBuffer {
  unsigned char* bytes;
  std::size_t size;
  CopyPipe pipe;
};
// Why KernelCopy stopped. Whatever the reason, the bytes counted as copied
// are in place, and the caller goes on with plain reads and writes from
// there: they confirm an end, tell a read failure from a write failure, and
// work where the kernel cannot.
enum class KernelStop {
  kFinished,  // all `count` bytes moved
  kEnded,     // the input ended: a call found nothing more, or a file-to-file
              // call moved less than it asked, which on a regular file is its end
  kRefused,   // no such call here: another file system, a kind of file it cannot move
  kFailed,    // an error on either side
};
struct KernelCopyResult {
  std::uint64_t copied;
  KernelStop stop;
};
// The kernel's ways: through the pipe (splice), or file to file
// (copy_file_range). kChosen takes the one measured fastest for the offsets
// and size asked; the others are there for tests and the engine benchmark.
enum class KernelRoute { kChosen, kPipe, kFileToFile };
// Moves up to `count` bytes from `from` at `from_offset` to `to` at
// `to_offset` without the buffer's memory, as far as the kernel can. Win32
// has no such way: it copies nothing and reports kRefused.
KernelCopyResult KernelCopy(FileHandle from, std::uint64_t from_offset, FileHandle to,
                            std::uint64_t to_offset, std::uint64_t count, const CopyBuffer& buffer,
                            KernelRoute route = KernelRoute::kChosen);

// Directory-entry lookup, as FindFirstFileA does it: the last component may
// hold the wildcards '*' and '?'; folders match too; the stored name is the
// entry's name as its folder holds it. When several entries match, Win32
// reports the first that FindFirstFileA gives (the folder's own order), POSIX
// the first in byte order (readdir's order depends on the file system).
// Where a name may hold '*' or '?' (POSIX), an entry named exactly by the
// last component wins over the pattern.
struct EntryLookup {
  bool found;
  bool release_failed;  // the lookup could not be released (not a failure of the run)
};
EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity);

// Makes standard output carry every byte as written: no line-end
// translation ("\n" stays one byte, also when the output is redirected).
// Called once, before the first line is printed.
void PrepareConsoleOutput();

// Writes one whole message to standard output and flushes it, so that it is
// on the screen when the call returns; a full pipe or terminal is waited on.
// On a Win32 console the bytes are read in the ANSI code page and shown as
// the characters they stand for; a file, a pipe or a POSIX terminal receives
// the bytes unchanged. The run frame's default text writer.
void WriteConsoleText(const char* text, std::size_t size);

// The narrow code page that paths are written in, as the system describes
// it; asked once per run. POSIX has none to describe (all fields zero).
struct NarrowCodePage {
  unsigned number;                           // 932, 1252, ...; 0 when unknown
  unsigned max_char_size;                    // 1 for a single-byte page; 0 when unknown
  bool (*is_lead_byte)(unsigned char byte);  // the system's own test; nullptr when none
};
NarrowCodePage PathCodePage();

// One key press from the console itself, never from standard input: 1 .. 255
// for a character, 0 or 224 for the lead code of a function or cursor key,
// -1 at once when no console input can be read.
int ReadKey();

// Whether the console shows UTF-8: on POSIX, when the codeset of the locale
// the environment names (setlocale(LC_CTYPE, "")) is UTF-8; the run's own
// locale is left as it was. Always false on Win32, whose console reads the
// ANSI code page. Asked once per run, where a text holds a character that
// has no one spelling in both.
bool ConsoleShowsUtf8();

}  // namespace platform
