#include "test_files.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "expected_text.h"

namespace testkit {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::symlink_status(path, ignored).type() != fs::file_type::not_found && !ignored;
}

bool IsRegular(const std::string& path) {
  std::error_code ignored;
  return fs::is_regular_file(fs::symlink_status(path, ignored));
}

void MakeFolder(const std::string& path) { fs::create_directories(path); }

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    paths.insert(entry.path().string());
  }
  return paths;
}

std::vector<std::string> Pieces(std::size_t count, std::size_t size, unsigned seed) {
  std::vector<std::string> pieces;
  for (std::size_t k = 0; k < count; ++k) {
    pieces.push_back(RandomBytes(size, seed + static_cast<unsigned>(k)));
  }
  return pieces;
}

std::vector<std::string> PiecesForSizes(const std::vector<std::size_t>& sizes,
                                        const std::string& name, unsigned seed) {
  std::vector<std::string> pieces;
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    const std::size_t header = k == 0 ? expected::SegmentHeader(0, name).size() : 0;
    pieces.push_back(RandomBytes(sizes[k] - header, seed + static_cast<unsigned>(k)));
  }
  return pieces;
}

std::vector<std::size_t> SetSizes(std::size_t count, std::size_t segment_size,
                                  std::size_t last_size) {
  std::vector<std::size_t> sizes(count, segment_size);
  sizes.back() = last_size;
  return sizes;
}

std::string WriteSet(const std::string& base, std::int32_t count, const std::string& name,
                     const std::vector<std::string>& pieces) {
  std::string data;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const std::string header = k == 0 ? expected::SegmentHeader(count, name) : "";
    WriteFile(base + std::to_string(k + 1), header + pieces[k]);
    data += pieces[k];
  }
  return data;
}

}  // namespace testkit
