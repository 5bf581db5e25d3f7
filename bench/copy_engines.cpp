// The engine benchmark's worker: copies the way the programs do (a set of
// segments from one file, one file from a set, one whole file), through one
// of the copy engines of the platform layer, so that bench/engine_bench.sh
// can time each engine on the same work. Linux only.
//
//   copy_engines ENGINE split INPUT FOLDER SEGMENT HEADER  -> FOLDER/p.1 .. p.N
//   copy_engines ENGINE join  FOLDER OUTPUT HEADER         -> OUTPUT from FOLDER/p.*
//   copy_engines ENGINE whole INPUT OUTPUT                  -> OUTPUT
//
// ENGINE: blocks (pread/pwrite through the 1 MiB buffer), pipe (splice
// through the 1 MiB pipe), range (copy_file_range), chosen (what the
// programs use). Whatever an engine leaves undone, the block loop finishes,
// so every engine's output is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/copy_buffer.h"
#include "platform/platform.h"

namespace {

enum class Engine { kBlocks, kPipe, kRange, kChosen };

bool ParseEngine(const char* text, Engine* engine) {
  const struct {
    const char* name;
    Engine engine;
  } kEngines[] = {{"blocks", Engine::kBlocks},
                  {"pipe", Engine::kPipe},
                  {"range", Engine::kRange},
                  {"chosen", Engine::kChosen}};
  for (const auto& entry : kEngines) {
    if (std::strcmp(text, entry.name) == 0) {
      *engine = entry.engine;
      return true;
    }
  }
  return false;
}

bool Copy(Engine engine, int from, std::uint64_t from_offset, int to, std::uint64_t to_offset,
          std::uint64_t count, const platform::CopyBuffer& buffer) {
  const platform::FileHandle in{from};
  const platform::FileHandle out{to};
  CopyOutcome outcome{};
  switch (engine) {
    case Engine::kBlocks:
      outcome = CopyBlocks(in, from_offset, out, to_offset, count, buffer);
      break;
    case Engine::kPipe:
      outcome = CopyRange(in, from_offset, out, to_offset, count, buffer,
                          platform::KernelRoute::kPipe);
      break;
    case Engine::kRange:
      outcome = CopyRange(in, from_offset, out, to_offset, count, buffer,
                          platform::KernelRoute::kFileToFile);
      break;
    case Engine::kChosen:
      outcome = CopyRange(in, from_offset, out, to_offset, count, buffer);
      break;
  }
  return outcome.failure == CopyFailure::kNone && outcome.copied == count;
}

int Create(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

std::uint64_t SizeOf(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool Split(Engine engine, const char* input, const std::string& folder, std::uint64_t segment,
           std::uint64_t header, const platform::CopyBuffer& buffer) {
  const int from = open(input, O_RDONLY | O_CLOEXEC);
  if (from < 0) return false;
  const std::uint64_t size = SizeOf(from);
  const std::vector<unsigned char> header_bytes(header, 't');
  std::uint64_t copied = 0;
  for (int k = 1; copied < size || k == 1; ++k) {
    const int to = Create(folder + "/p." + std::to_string(k));
    if (to < 0) return false;
    std::uint64_t offset = 0;
    if (k == 1 && header > 0) {
      if (pwrite(to, header_bytes.data(), header, 0) != static_cast<ssize_t>(header)) return false;
      offset = header;
    }
    const std::uint64_t room = segment - offset;
    const std::uint64_t take = size - copied < room ? size - copied : room;
    if (!Copy(engine, from, copied, to, offset, take, buffer) || close(to) != 0) return false;
    copied += take;
  }
  return close(from) == 0;
}

// One open, fstat and close per member, and exactly the size fstat gave.
bool Join(Engine engine, const std::string& folder, const char* output, std::uint64_t header,
          const platform::CopyBuffer& buffer) {
  const int to = Create(output);
  if (to < 0) return false;
  std::uint64_t written = 0;
  for (int k = 1;; ++k) {
    const int from = open((folder + "/p." + std::to_string(k)).c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) break;
    const std::uint64_t offset = k == 1 ? header : 0;
    const std::uint64_t size = SizeOf(from);
    if (size < offset || !Copy(engine, from, offset, to, written, size - offset, buffer)) {
      return false;
    }
    written += size - offset;
    close(from);
  }
  return close(to) == 0;
}

bool Whole(Engine engine, const char* input, const char* output,
           const platform::CopyBuffer& buffer) {
  const int from = open(input, O_RDONLY | O_CLOEXEC);
  const int to = Create(output);
  if (from < 0 || to < 0) return false;
  const bool copied = Copy(engine, from, 0, to, 0, SizeOf(from), buffer);
  return copied && close(to) == 0 && close(from) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Engine engine{};
  if (argc < 5 || !ParseEngine(argv[1], &engine)) {
    std::fprintf(stderr, "usage: copy_engines blocks|pipe|range|chosen split|join|whole ...\n");
    return 2;
  }
  const std::string mode = argv[2];
  const platform::CopyBuffer buffer = AcquireCopyBuffer();
  bool done = false;
  if (mode == "split" && argc == 7) {
    done = Split(engine, argv[3], argv[4], std::strtoull(argv[5], nullptr, 10),
                 std::strtoull(argv[6], nullptr, 10), buffer);
  } else if (mode == "join" && argc == 6) {
    done = Join(engine, argv[3], argv[4], std::strtoull(argv[5], nullptr, 10), buffer);
  } else if (mode == "whole" && argc == 5) {
    done = Whole(engine, argv[3], argv[4], buffer);
  }
  ReleaseCopyBuffer(buffer);
  if (!done) std::fprintf(stderr, "copy_engines: %s %s failed\n", argv[1], argv[2]);
  return done ? 0 : 1;
}
