// The platform layer: everything that differs between Win32 and POSIX.
// One implementation per platform (platform_win32.cpp, platform_posix.cpp);
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

// An open file: a file descriptor on POSIX, a HANDLE on Win32.
struct FileHandle {
  std::intptr_t value;
};
inline constexpr FileHandle kNoFile{-1};
inline bool IsOpen(FileHandle file) { return file.value != kNoFile.value; }

// Opens a file for binary reading; kNoFile on failure. A folder is never
// opened as a file.
FileHandle OpenForReading(const char* path);
// Creates a file for binary writing, truncating an existing one; kNoFile on
// failure. A folder is never opened as a file.
FileHandle CreateForWriting(const char* path);
// False when the close reported an error (a write-behind that failed).
bool CloseFile(FileHandle file);

// Reads up to `size` bytes at `offset`: the count read, 0 at end of file,
// -1 on a read error.
std::int64_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size);
// Writes all `size` bytes at `offset`; false on any failure (a full disk too).
bool WriteAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size);

// The size of a regular file as the file system records it; false for
// anything that is not a regular file (a pipe, a device).
bool RegularFileSize(FileHandle file, std::uint64_t* size);

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
enum class CopyFailure { kNone, kRead, kWrite };
struct CopyOutcome {
  std::uint64_t copied;  // less than asked only when the input ended early
  CopyFailure failure;
};

// Why KernelCopy stopped. Whatever the reason, the bytes counted as copied
// are in place, and the caller goes on with plain reads and writes from
// there: they confirm an end, tell a read failure from a write failure, and
// work where the kernel cannot.
enum class KernelStop {
  kFinished,  // all `count` bytes moved
  kEnded,     // the kernel found no more input
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
// entry's name as its folder holds it. When several entries match, the first
// in byte order is reported.
struct EntryLookup {
  bool found;
  bool release_failed;  // the lookup could not be released (not a failure of the run)
};
EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity);

// Makes standard output carry every byte as written: no line-end
// translation ("\n" stays one byte, also when the output is redirected).
// Called once, before the first line is printed.
void PrepareConsoleOutput();

// One key press from the console itself, never from standard input: 1 .. 255
// for a character, 0 or 224 for the lead code of a function or cursor key,
// -1 at once when no console input can be read.
int ReadKey();

}  // namespace platform
