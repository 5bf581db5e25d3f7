// The kernel's ways of copying (Linux: splice through the run's pipe,
// copy_file_range) and how the block loop takes over from each: the same
// bytes, the same failure reports, nothing left behind in the pipe, no
// wait on a special file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>

#include "common/copy_buffer.h"
#include "platform/platform.h"

namespace {

using platform::KernelRoute;
using platform::KernelStop;

struct Route {
  const char* name;
  KernelRoute route;
};
const Route kRoutes[] = {{"Chosen", KernelRoute::kChosen},
                         {"Pipe", KernelRoute::kPipe},
                         {"FileToFile", KernelRoute::kFileToFile}};

std::string RouteName(const ::testing::TestParamInfo<Route>& info) { return info.param.name; }
void PrintTo(const Route& route, std::ostream* out) { *out << route.name; }

std::string Random(std::size_t size) {
  std::mt19937 generator(11);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

class KernelCopyTest : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kernel_copy_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    buffer_ = AcquireCopyBuffer();
    ASSERT_NE(buffer_.bytes, nullptr);
  }
  void TearDown() override {
    ReleaseCopyBuffer(buffer_);
    std::filesystem::remove_all(folder_);
  }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }
  platform::FileHandle Open(const std::string& path, int flags) const {
    return platform::FileHandle{open(path.c_str(), flags | O_CLOEXEC, 0666)};
  }
  CopyOutcome Copy(platform::FileHandle from, std::uint64_t from_offset,
                             platform::FileHandle to, std::uint64_t to_offset,
                             std::uint64_t count) const {
    return CopyRange(from, from_offset, to, to_offset, count, buffer_, GetParam().route);
  }

  std::string folder_;
  platform::CopyBuffer buffer_{};
};

TEST(CopyPipeTest, HoldsAWholeBuffer) {
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  // Root is never held to the pipe size limit; others get at least a pipe.
  EXPECT_GE(buffer.pipe.capacity, geteuid() == 0 ? kCopyBufferSize : std::size_t{4096});
  ReleaseCopyBuffer(buffer);
}

// Offsets that lie alike within a page and offsets a header apart, over
// several pipe loads, and copies that reach past the input's end.
TEST_P(KernelCopyTest, CopiesExactlyAndReportsTheEnd) {
  const std::string source = Random(3 * kCopyBufferSize + 999);
  Write("in", source);
  const struct {
    std::uint64_t from_offset, to_offset, count;
  } kCases[] = {{0, 0, source.size()},     {4096, 8192, 2 * kCopyBufferSize},
                {0, 17, source.size()},    {1439983, 0, kCopyBufferSize + 1},
                {17, 3, std::uint64_t{1} << 40}, {100, 0, 512}};
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  ASSERT_TRUE(platform::IsOpen(in));
  int k = 0;
  for (const auto& c : kCases) {
    const std::string out_path = Path("out" + std::to_string(++k));
    platform::FileHandle out = Open(out_path, O_WRONLY | O_CREAT | O_TRUNC);
    const std::uint64_t held = source.size() - c.from_offset;
    const std::uint64_t expected = c.count < held ? c.count : held;
    platform::KernelCopyResult kernel = platform::KernelCopy(
        in, c.from_offset, out, c.to_offset, c.count, buffer_, GetParam().route);
    EXPECT_EQ(kernel.copied, expected) << k;
    EXPECT_EQ(kernel.stop, c.count <= held ? KernelStop::kFinished : KernelStop::kEnded) << k;
    EXPECT_TRUE(platform::CloseFile(out));
    EXPECT_EQ(Read(out_path), std::string(c.to_offset, '\0') + source.substr(c.from_offset, expected))
        << k;
  }
  platform::CloseFile(in);
}

TEST_P(KernelCopyTest, AFailedWriteIsAWriteFailure) {
  Write("in", Random(3 * kCopyBufferSize));
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  platform::FileHandle full = Open("/dev/full", O_WRONLY);
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(full));
  for (std::uint64_t offset : {0, 17}) {
    EXPECT_EQ(Copy(in, offset, full, offset, 2 * kCopyBufferSize).failure, CopyFailure::kWrite);
  }
  platform::CloseFile(full);
  platform::CloseFile(in);
}

TEST_P(KernelCopyTest, AFailedReadIsAReadFailure) {
  // Reading a process's memory at address 0 fails with an I/O error.
  platform::FileHandle memory = Open("/proc/self/mem", O_RDONLY);
  platform::FileHandle out = Open(Path("out"), O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_TRUE(platform::IsOpen(memory) && platform::IsOpen(out));
  for (std::uint64_t to_offset : {0, 17}) {
    CopyOutcome outcome = Copy(memory, 0, out, to_offset, 4096);
    EXPECT_EQ(outcome.failure, CopyFailure::kRead);
    EXPECT_EQ(outcome.copied, 0u);
  }
  platform::CloseFile(out);
  platform::CloseFile(memory);
}

// A file size limit stops the writing part-way through a pipe load: what
// came before the limit is in place and counted, the rest is reported as a
// write failure, and the pipe starts the next copy empty.
TEST_P(KernelCopyTest, AFileSizeLimitStopsTheWriteAndLeavesNothingBehind) {
  const std::string source = Random(3 * kCopyBufferSize);
  Write("in", source);
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  platform::FileHandle limited = Open(Path("limited"), O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(limited));

  constexpr rlim_t kLimit = kCopyBufferSize + 4096 + 300;
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of the signal
  struct rlimit limit = saved;
  limit.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const CopyOutcome outcome = Copy(in, 5, limited, 17, 2 * kCopyBufferSize);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(outcome.failure, CopyFailure::kWrite);
  EXPECT_EQ(outcome.copied, kLimit - 17);
  platform::CloseFile(limited);
  EXPECT_EQ(Read(Path("limited")), std::string(17, '\0') + source.substr(5, kLimit - 17));

  platform::FileHandle next = Open(Path("next"), O_WRONLY | O_CREAT | O_TRUNC);
  const CopyOutcome after = Copy(in, 1000, next, 3, kCopyBufferSize);
  EXPECT_EQ(after.failure, CopyFailure::kNone);
  EXPECT_EQ(after.copied, kCopyBufferSize);
  platform::CloseFile(next);
  platform::CloseFile(in);
  EXPECT_EQ(Read(Path("next")), std::string(3, '\0') + source.substr(1000, kCopyBufferSize));
}

// Between two file systems copy_file_range may refuse (EXDEV); the copy is
// whole all the same.
TEST_P(KernelCopyTest, CopiesAcrossFileSystems) {
  struct stat here {}, there {};
  if (stat(folder_.c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev) {
    GTEST_SKIP() << "needs /dev/shm on a file system of its own";
  }
  char name[] = "/dev/shm/kernel_copy_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string source = Random(2 * kCopyBufferSize + 77);
  Write("in", source);
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  platform::FileHandle out{fd};
  // The chosen way falls back on the pipe when copy_file_range refuses.
  const platform::KernelCopyResult kernel =
      platform::KernelCopy(in, 0, out, 0, 17, buffer_, GetParam().route);
  if (GetParam().route == KernelRoute::kFileToFile) {
    EXPECT_TRUE(kernel.stop == KernelStop::kFinished || kernel.stop == KernelStop::kRefused);
  } else {
    EXPECT_EQ(kernel.stop, KernelStop::kFinished);
  }
  EXPECT_EQ(kernel.copied, kernel.stop == KernelStop::kFinished ? 17u : 0u);
  const CopyOutcome outcome = Copy(in, 5, out, 17, source.size());
  EXPECT_EQ(outcome.failure, CopyFailure::kNone);
  EXPECT_EQ(outcome.copied, source.size() - 5);
  platform::CloseFile(in);
  platform::CloseFile(out);
  const std::string copied = Read(name);
  unlink(name);
  EXPECT_EQ(copied.substr(0, 17),
            kernel.copied == 17 ? source.substr(0, 17) : std::string(17, '\0'));
  EXPECT_EQ(copied.substr(17), source.substr(5));
}

// A pipe has no offsets: every way refuses it at once and the block loop
// reports a read failure, without waiting for a writer.
TEST_P(KernelCopyTest, AFifoIsAReadFailureAtOnce) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  platform::FileHandle fifo = Open(Path("fifo"), O_RDWR);  // O_RDWR: the open does not wait
  platform::FileHandle out = Open(Path("out"), O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_TRUE(platform::IsOpen(fifo) && platform::IsOpen(out));
  EXPECT_EQ(Copy(fifo, 0, out, 0, 4096).failure, CopyFailure::kRead);
  platform::CloseFile(out);
  platform::CloseFile(fifo);
}

INSTANTIATE_TEST_SUITE_P(Routes, KernelCopyTest, ::testing::ValuesIn(kRoutes), RouteName);

}  // namespace
