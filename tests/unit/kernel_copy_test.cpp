// The kernel's ways of copying (Linux: splice through the run's pipe,
// copy_file_range) and how the block loop takes over from each: the same
// bytes, the same failure reports, nothing left behind in the pipe, no
// wait on a special file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ostream>
#include <string>
#include <tuple>

#include "common/copy_buffer.h"
#include "file_folder_test.h"
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

std::string Random(std::size_t size) { return testkit::RandomBytes(size, 11); }

platform::FileHandle Open(const std::string& path, int flags) {
  return platform::FileHandle{open(path.c_str(), flags | O_CLOEXEC, 0666)};
}

// The test's folder and one copy buffer, for a route of the kernel's.
template <typename Param>
class KernelFixture : public FileFolderTest, public ::testing::WithParamInterface<Param> {
 protected:
  void SetUp() override {
    buffer_ = AcquireCopyBuffer();
    ASSERT_NE(buffer_.bytes, nullptr);
  }
  void TearDown() override { ReleaseCopyBuffer(buffer_); }

  platform::CopyBuffer buffer_{};
};

class KernelCopyTest : public KernelFixture<Route> {
 protected:
  CopyOutcome Copy(platform::FileHandle from, std::uint64_t from_offset, platform::FileHandle to,
                   std::uint64_t to_offset, std::uint64_t count) const {
    return CopyRange(from, from_offset, to, to_offset, count, buffer_, GetParam().route);
  }
};

TEST(CopyPipeTest, HoldsAWholeBuffer) {
  platform::CopyBuffer buffer = AcquireCopyBuffer();
  // Root is never held to the pipe size limit; others get at least a pipe.
  EXPECT_GE(buffer.pipe.capacity, geteuid() == 0 ? kCopyBufferSize : std::size_t{4096});
  ReleaseCopyBuffer(buffer);
}

// The kernel's own report over the shared ranges: what it moved is in
// place, and it tells a finished copy from an input that ended.
using KernelRangeCase = std::tuple<Route, CopyCase>;

class KernelRangeTest : public KernelFixture<KernelRangeCase> {};

TEST_P(KernelRangeTest, CopiesExactlyAndReportsTheEnd) {
  const auto& [route, c] = GetParam();
  const std::string source = Random(kCopySourceSize);
  Write("in", source);
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  platform::FileHandle out = Open(Path("out"), O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(out));
  const platform::KernelCopyResult kernel =
      platform::KernelCopy(in, c.from_offset, out, c.to_offset, c.count, buffer_, route.route);
  platform::CloseFile(in);
  EXPECT_TRUE(platform::CloseFile(out));
  const bool reaches_the_end = c.count > kCopySourceSize - c.from_offset;
  EXPECT_EQ(kernel.copied, CopiedBy(c));
  EXPECT_EQ(kernel.stop, reaches_the_end ? KernelStop::kEnded : KernelStop::kFinished);
  // Whatever lies before the output's offset was never written: a hole.
  EXPECT_EQ(Read("out"), std::string(kernel.copied > 0 ? c.to_offset : 0, '\0') +
                             source.substr(c.from_offset, CopiedBy(c)));
}

INSTANTIATE_TEST_SUITE_P(Routes, KernelRangeTest,
                         ::testing::Combine(::testing::ValuesIn(kRoutes),
                                            ::testing::ValuesIn(kCopyCases)),
                         [](const ::testing::TestParamInfo<KernelRangeCase>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

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

// This process's file size limit, with SIGXFSZ ignored so that a write
// beyond it fails with EFBIG instead; both are put back when the object
// goes, however the test ends.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    if (old_handler_ == SIG_ERR) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool set() const { return set_; }

 private:
  struct rlimit saved_ {};
  void (*old_handler_)(int) = SIG_ERR;
  bool set_ = false;
};

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
  CopyOutcome outcome{};
  {
    const FileSizeLimit limit(kLimit);
    ASSERT_TRUE(limit.set());
    outcome = Copy(in, 5, limited, 17, 2 * kCopyBufferSize);
  }
  EXPECT_EQ(outcome.failure, CopyFailure::kWrite);
  EXPECT_EQ(outcome.copied, kLimit - 17);
  platform::CloseFile(limited);
  EXPECT_EQ(Read("limited"), std::string(17, '\0') + source.substr(5, kLimit - 17));

  platform::FileHandle next = Open(Path("next"), O_WRONLY | O_CREAT | O_TRUNC);
  const CopyOutcome after = Copy(in, 1000, next, 3, kCopyBufferSize);
  EXPECT_EQ(after.failure, CopyFailure::kNone);
  EXPECT_EQ(after.copied, kCopyBufferSize);
  platform::CloseFile(next);
  platform::CloseFile(in);
  EXPECT_EQ(Read("next"), std::string(3, '\0') + source.substr(1000, kCopyBufferSize));
}

// Between two file systems copy_file_range may refuse (EXDEV); the copy is
// whole all the same.
TEST_P(KernelCopyTest, CopiesAcrossFileSystems) {
  struct stat here {}, there {};
  if (stat(folder_.c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev) {
    GTEST_SKIP() << "needs /dev/shm on a file system of its own";
  }
  const testkit::TempFolder in_memory("/dev/shm");
  const std::string target = in_memory / "copy";
  const std::string source = Random(2 * kCopyBufferSize + 77);
  Write("in", source);
  platform::FileHandle in = Open(Path("in"), O_RDONLY);
  platform::FileHandle out = Open(target, O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_TRUE(platform::IsOpen(in) && platform::IsOpen(out));
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
  const std::string copied = testkit::ReadFile(target);
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
