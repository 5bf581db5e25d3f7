// Files for the tests to set up and look at, on every platform: bytes in
// and out, the same pseudo-random bytes for the same seed, every path below
// a folder, and segment sets written as the splitter would leave them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace testkit {

// Throw when the file cannot be written or read: a test that cannot set
// itself up must not pass.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// True for any entry at `path`, a dangling link too.
bool Exists(const std::string& path);
// A regular file itself, not a link to one.
bool IsRegular(const std::string& path);
void MakeFolder(const std::string& path);
std::string RandomBytes(std::size_t size, unsigned seed);
// Every path below `root`, to show that a run made or removed nothing.
std::set<std::string> Tree(const std::string& root);

// `count` pieces of `size` random bytes each.
std::vector<std::string> Pieces(std::size_t count, std::size_t size, unsigned seed);
// Random pieces for segments of these whole sizes: segment 1's size
// includes the header that stores `name`.
std::vector<std::string> PiecesForSizes(const std::vector<std::size_t>& sizes,
                                        const std::string& name, unsigned seed);
// The sizes of a set the format allows: `count` segments of `segment_size`
// but the last, which has `last_size`.
std::vector<std::size_t> SetSizes(std::size_t count, std::size_t segment_size,
                                  std::size_t last_size);
// Writes base + "1" (the header for `count` segments and `name`, then
// pieces[0]), base + "2" (pieces[1]), ...; returns what the set binds to.
std::string WriteSet(const std::string& base, std::int32_t count, const std::string& name,
                     const std::vector<std::string>& pieces);

}  // namespace testkit
