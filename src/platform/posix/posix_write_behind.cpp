// Write-back on a thread of its own: the run hands over a copy of a handle
// and a range through a pipe and goes on copying; the thread starts the
// medium writing that range and closes the copy.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"

#ifndef TRENZIK_HAVE_SYNC_FILE_RANGE
#define TRENZIK_HAVE_SYNC_FILE_RANGE 0
#endif

namespace platform {

using posix::Descriptor;

namespace {

// Few enough that the copies never crowd the run's own descriptors, enough
// that the thread always has the next range at hand.
constexpr int kMostInHand = 4;

// Smaller than PIPE_BUF: each request is read whole.
struct Request {
  int file;
  off_t offset;
  off_t length;
};

static_assert(sizeof(pthread_t) <= sizeof(WriteBehind::thread), "a thread fits its slot");

void WriteBackNow(int file, off_t offset, off_t length) {
#if TRENZIK_HAVE_SYNC_FILE_RANGE
  sync_file_range(file, offset, length, SYNC_FILE_RANGE_WRITE);
#else
  static_cast<void>(file);
  static_cast<void>(offset);
  static_cast<void>(length);
#endif
}

bool ReadWhole(int from, void* into, std::size_t size) {
  for (;;) {
    const ssize_t got = read(from, into, size);
    if (got == static_cast<ssize_t>(size)) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;  // the end: the run closed its side
  }
}

bool WriteWhole(int to, const void* bytes, std::size_t size) {
  for (;;) {
    const ssize_t put = write(to, bytes, size);
    if (put == static_cast<ssize_t>(size)) return true;
    if (put < 0 && errno == EINTR) continue;
    return false;
  }
}

void* WriteBackRequests(void* argument) {
  const WriteBehind& behind = *static_cast<const WriteBehind*>(argument);
  Request request;
  while (ReadWhole(behind.requests_read, &request, sizeof request)) {
    WriteBackNow(request.file, request.offset, request.length);
    close(request.file);
    const unsigned char one = 1;
    if (!WriteWhole(behind.done, &one, 1)) break;
  }
  return nullptr;
}

void CloseBoth(int pipe_ends[2]) {
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

pthread_t& ThreadOf(WriteBehind& behind) {
  return *reinterpret_cast<pthread_t*>(behind.thread);
}

}  // namespace

void BeginWriteBehind(WriteBehind& behind) {
  // Without sync_file_range a thread would have nothing to do.
  if (!TRENZIK_HAVE_SYNC_FILE_RANGE) return;
  int requests[2];
  int done[2];
  if (pipe2(requests, O_CLOEXEC) != 0) return;
  if (pipe2(done, O_CLOEXEC) != 0) {
    CloseBoth(requests);
    return;
  }
  behind.requests = requests[1];
  behind.requests_read = requests[0];
  behind.done = done[1];
  behind.done_read = done[0];
  // Every signal stays with the run's own thread, whose handlers clean up.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  const bool started = pthread_create(&ThreadOf(behind), nullptr, WriteBackRequests, &behind) == 0;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (!started) {
    CloseBoth(requests);
    CloseBoth(done);
    behind = WriteBehind{};
  }
}

void StartWriteBack(WriteBehind& behind, FileHandle file, std::uint64_t offset,
                    std::uint64_t length) {
  const auto start = static_cast<off_t>(offset);
  const auto count = static_cast<off_t>(length);
  if (behind.requests < 0) {
    WriteBackNow(Descriptor(file), start, count);
    return;
  }
  unsigned char one;
  if (behind.in_hand == kMostInHand) {
    if (ReadWhole(behind.done_read, &one, 1)) --behind.in_hand;
  }
  const Request request{fcntl(Descriptor(file), F_DUPFD_CLOEXEC, 0), start, count};
  if (request.file < 0 || behind.in_hand == kMostInHand) {
    if (request.file >= 0) close(request.file);
    WriteBackNow(Descriptor(file), start, count);
    return;
  }
  if (WriteWhole(behind.requests, &request, sizeof request)) {
    ++behind.in_hand;
  } else {
    close(request.file);
  }
}

void EndWriteBehind(WriteBehind& behind) {
  if (behind.requests < 0) return;
  close(behind.requests);  // the thread reads the end after the last request
  pthread_join(ThreadOf(behind), nullptr);
  close(behind.requests_read);
  close(behind.done);
  close(behind.done_read);
  behind = WriteBehind{};
}

}  // namespace platform
