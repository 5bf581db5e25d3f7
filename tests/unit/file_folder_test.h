// A test fixture with a fresh folder of its own and small helpers to put
// bytes into files there and read them back, for the tests of the platform
// layer and of the block copy.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "temp_folder.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

// A device opened for writing, which the programs never do; only where
// devices are files (the tests that need one skip elsewhere).
inline platform::FileHandle OpenDeviceForWriting(const char* path) {
#ifndef _WIN32
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  return fd < 0 ? platform::kNoFile : platform::FileHandle{fd};
#else
  static_cast<void>(path);
  return platform::kNoFile;
#endif
}

class FileFolderTest : public ::testing::Test {
 protected:
  // A path in the test's folder, joined with the platform's own separator.
  std::string Path(const std::string& name) const {
    return folder_.string() + platform::kPathSeparator + name;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  // Opened as the programs open a segment: created, or written from offset
  // 0 in place.
  static platform::FileHandle OpenToWrite(const std::string& path) {
    platform::OverwriteTarget target{platform::kNoFile, 0};
    platform::OpenForOverwrite(path.c_str(), platform::FileIdentity{~0ull, ~0ull}, &target);
    return target.file;
  }
  std::string Read(const std::string& name) const {
    std::ifstream file(Path(name), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  testkit::TempFolder temp_;
  std::filesystem::path folder_{temp_.path()};
};

// The same pseudo-random bytes for the same seed on every run.
inline std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}
