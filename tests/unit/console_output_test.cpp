// Every message is on the screen when its call returns: no line is held
// back in a buffer, throttled or dropped, however many follow.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/run_frame.h"
#include "splitter/splitter_texts.h"

namespace {

// Whatever the pipe holds right now, without waiting.
std::string Available(int fd) {
  std::string text;
  char block[4096];
  for (;;) {
    ssize_t got = read(fd, block, sizeof block);
    if (got <= 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

TEST(ConsoleOutput, EachMessageIsOutWhenItsCallReturns) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  std::FILE* console = fdopen(ends[1], "w");
  ASSERT_NE(console, nullptr);
  // A full buffer, as a redirected stream has: only the flush can empty it.
  static char buffer[1 << 16];
  ASSERT_EQ(std::setvbuf(console, buffer, _IOFBF, sizeof buffer), 0);
  RunFrame frame = MakeRunFrame(kSplitterProfile);
  frame.console = console;

  Say(frame, "%s", "Question? ");  // no line end: the key wait follows
  EXPECT_EQ(Available(ends[0]), "Question? ");
  for (int k = 1; k <= 2000; ++k) {
    Say(frame, "Writing to big.bin.%d\n", k);
    ASSERT_EQ(Available(ends[0]), "Writing to big.bin." + std::to_string(k) + "\n") << k;
  }
  std::fclose(console);
  close(ends[0]);
}

}  // namespace
