#include "temp_folder.h"

#include <stdlib.h>

#include <cerrno>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

namespace testkit {

namespace {

namespace fs = std::filesystem;

// mkdtemp where there is one; elsewhere (MinGW) a random name that
// create_directory refuses to reuse, which is just as exclusive.
std::string MakeUniqueFolder(const fs::path& under) {
#ifndef _WIN32
  std::string pattern = (under / "trenzik-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  return pattern;
#else
  std::random_device seed;
  std::mt19937_64 generator(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = under / ("trenzik-test-" + std::to_string(generator() % 1000000007));
    if (fs::create_directory(candidate)) return candidate.string();
  }
  throw std::runtime_error("no unused folder name under " + under.string());
#endif
}

}  // namespace

TempFolder::TempFolder() : path_(MakeUniqueFolder(fs::temp_directory_path())) {}

TempFolder::TempFolder(const std::string& parent) : path_(MakeUniqueFolder(parent)) {}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace testkit
