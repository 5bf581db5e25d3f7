// Path splitting on arbitrary byte strings, each split once with the
// backslash and once with the slash as separator. The path is the input up
// to its first NUL, at most one work buffer long.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/path_names.h"
#include "common/work_buffers.h"
#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

bool IsLead(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsTrail(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// states[i]: the scan state after bytes 0 .. i-1, in one forward pass.
std::vector<int> ForwardStates(const std::string& path) {
  std::vector<int> states(path.size() + 1, 0);
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    states[i + 1] = states[i] == 1 ? (IsTrail(byte) ? 2 : 0) : (IsLead(byte) ? 1 : 0);
  }
  return states;
}

void CheckSplit(const std::string& path, const char* exact, char separator,
                const std::vector<int>& states) {
  const std::size_t length = path.size();
  const PathRules rules{separator, kShiftJisLeadBytes};
  const std::size_t directory = DirectoryPartLength(exact, rules);
  FUZZ_REQUIRE(directory <= length);

  // Where the directory part must end: after the last separator at index 1
  // or later; a backslash that is the second half of a double-byte
  // character does not count, a slash always does.
  std::size_t expected = 0;
  for (std::size_t i = length; i-- > 1;) {
    if (path[i] != separator) continue;
    if (separator == '\\' && states[i] == 1) continue;
    expected = i + 1;
    break;
  }
  FUZZ_REQUIRE(directory == expected);
  if (directory > 0) {
    FUZZ_REQUIRE(directory >= 2);
    FUZZ_REQUIRE(path[directory - 1] == separator);
  }
  if (separator == '/') {
    const std::size_t last = path.find_last_of('/');
    FUZZ_REQUIRE(directory == (last == std::string::npos || last == 0 ? 0 : last + 1));
  }

  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  char* result = StripToBaseName(buffer.data(), rules);
  FUZZ_REQUIRE(result == buffer.data());
  FUZZ_REQUIRE(std::strcmp(result, path.c_str() + directory) == 0);

  std::vector<char> shown(kWorkBufferSize);
  FUZZ_REQUIRE(std::strcmp(DisplayName(shown.data(), exact, rules), result) == 0);

  // The rules a run takes from this system split its own paths the same way.
  if (separator == platform::kPathSeparator) {
    FUZZ_REQUIRE(DirectoryPartLength(exact, SystemPathRules()) == directory);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::size_t length = static_cast<std::size_t>(std::find(bytes, bytes + size, '\0') - bytes);
  length = std::min(length, kWorkBufferSize - 1);
  const std::string path(bytes, length);
  // The functions see the path in a buffer of exactly its length and NUL,
  // so that a read beyond the terminator is caught.
  std::unique_ptr<char[]> exact(new char[length + 1]);
  std::memcpy(exact.get(), path.c_str(), length + 1);

  const std::vector<int> states = ForwardStates(path);
  for (std::ptrdiff_t position = -2; position <= static_cast<std::ptrdiff_t>(length) + 2;
       ++position) {
    const int state = ShiftJisScanState(exact.get(), position, kShiftJisLeadBytes);
    FUZZ_REQUIRE(state == 0 || state == 1 || state == 2);
    if (position < 1 || position > static_cast<std::ptrdiff_t>(length)) {
      FUZZ_REQUIRE(state == 0);
    } else {
      FUZZ_REQUIRE(state == states[static_cast<std::size_t>(position)]);
    }
  }

  CheckSplit(path, exact.get(), '\\', states);
  CheckSplit(path, exact.get(), '/', states);
  return 0;
}
