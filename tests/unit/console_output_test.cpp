// The real console writer, as the run frame uses it by default: every
// message is out when its call returns, whole and byte for byte, whatever
// standard output is (a pipe, a full non-blocking one, a terminal).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/run_frame.h"
#include "splitter/splitter_texts.h"

namespace {

// Standard output on `fd` for the object's life. Nothing may be printed
// meanwhile (a failed EXPECT would land in `fd`): the cases collect what
// they saw and judge it once the old output is back.
class StandardOutputTo {
 public:
  explicit StandardOutputTo(int fd) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
  }
  ~StandardOutputTo() { Restore(); }
  void Restore() {
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

 private:
  int saved_ = -1;
};

// Whatever the descriptor holds right now, without waiting.
std::string Available(int fd) {
  std::string text;
  char block[4096];
  for (;;) {
    ssize_t got = read(fd, block, sizeof block);
    if (got <= 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

// Reads until `size` bytes came or nothing more comes within five seconds.
std::string ReadUpTo(int fd, std::size_t size) {
  std::string text;
  char block[4096];
  while (text.size() < size) {
    struct pollfd ready {
      fd, POLLIN, 0
    };
    if (poll(&ready, 1, 5000) <= 0) break;
    ssize_t got = read(fd, block, sizeof block);
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
  }
  return text;
}

TEST(ConsoleOutput, EachMessageIsInThePipeWhenItsCallReturns) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  const RunFrame frame = MakeRunFrame(kSplitterProfile);
  std::vector<std::string> seen;
  {
    StandardOutputTo pipe_output(ends[1]);
    Say(frame, "%s", "Question? ");  // no line end: the key wait follows
    seen.push_back(Available(ends[0]));
    for (int k = 1; k <= 2000; ++k) {
      Say(frame, "Writing to big.bin.%d\n", k);
      seen.push_back(Available(ends[0]));
    }
  }
  close(ends[1]);
  close(ends[0]);
  ASSERT_EQ(seen.size(), 2001u);
  EXPECT_EQ(seen[0], "Question? ");
  for (int k = 1; k <= 2000; ++k) {
    ASSERT_EQ(seen[k], "Writing to big.bin." + std::to_string(k) + "\n") << k;
  }
}

// A pipe left non-blocking takes a long message in parts and refuses more
// while it is full: the writer waits for room and drops nothing.
TEST(ConsoleOutput, AFullNonBlockingPipeGetsTheWholeMessage) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
  std::string message(1 << 20, '\0');
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
  std::string received;
  std::thread reader([&] {
    char block[4096];
    while (ssize_t got = read(ends[0], block, sizeof block)) {
      if (got < 0) break;
      received.append(block, static_cast<std::size_t>(got));
    }
  });
  {
    StandardOutputTo pipe_output(ends[1]);
    platform::WriteConsoleText(message.data(), message.size());
  }
  close(ends[1]);  // the last write end: the reader sees the end
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received.size(), message.size());
  EXPECT_TRUE(received == message) << "the bytes differ";
}

// A terminal gets the bytes as they are, Shift_JIS ones included, and keeps
// its own output processing (here LF to CR LF).
TEST(ConsoleOutput, ATerminalGetsTheBytesAsTheyAre) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  const RunFrame frame = MakeRunFrame(kSplitterProfile);
  const std::string name = "\x83\x65\x83\x58\x83\x67.zip";  // katakana "tesuto" in Shift_JIS
  {
    StandardOutputTo terminal_output(terminal);
    Say(frame, " Writing to %s.1....", name.c_str());
    Say(frame, "Done!\n");
  }
  const std::string expected = " Writing to " + name + ".1....Done!\r\n";
  EXPECT_EQ(ReadUpTo(master, expected.size()), expected);
  close(terminal);
  close(master);
}

}  // namespace
