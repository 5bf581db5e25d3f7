// What the POSIX units of the platform layer share among themselves; the
// programs see none of it.
#pragma once

#include <sys/stat.h>

#include <csignal>

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform::posix {

inline int Descriptor(FileHandle file) { return static_cast<int>(file.value); }
inline FileHandle FromDescriptor(int fd) { return fd < 0 ? kNoFile : FileHandle{fd}; }
// The folder's descriptor for the *at calls; the current folder's stand-in
// where no folder was opened (the path is then whole).
int FolderDescriptor(Folder folder);

// Largest single request handed to the kernel; keeps counts far from any
// platform limit on one call.
inline constexpr std::size_t kMaxRequest = std::size_t{1} << 30;

FileFacts FactsOf(const struct stat& info);
// A new file at `name` in `folder_fd`, never an existing one, never through
// a link.
int CreateExclusivelyAt(int folder_fd, const char* name, unsigned mode);

// The signal owner (posix_signals.cpp). Its handlers end the process the
// way the signal would have, after putting back what the run changed: the
// terminal's mode (asked of the terminal unit) and the armed temporary file.
void CatchSignalsForRun();
// The name `name` in `folder_fd` is removed by any ending by signal until it
// is disarmed. Signals are held back while the watch changes.
void ArmRemoval(int folder_fd, const char* name);
void DisarmRemoval();
// Held back around a step that must not be cut in two by a handler.
struct HeldSignals {
  sigset_t previous_mask;
};
HeldSignals HoldSignals();
void ReleaseSignals(const HeldSignals& held);

// The terminal unit (posix_terminal.cpp), for the signal handlers: both
// are async-signal-safe.
void PutTerminalModeBack();    // the mode before the key wait, if the wait's is in force
void ResumeTerminalWaitMode(); // the wait's mode again after a stop, from the foreground

}  // namespace platform::posix
