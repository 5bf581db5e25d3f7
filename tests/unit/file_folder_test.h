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

class FileFolderTest : public ::testing::Test {
 protected:
  // A path in the test's folder, joined with the platform's own separator.
  std::string Path(const std::string& name) const {
    return folder_.string() + platform::kPathSeparator + name;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
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
