// Directory-entry lookup, as the Win32 programs' FindFirstFileA does it:
// wildcards in the last component, folders match too, and the stored name is
// the entry's name as its folder holds it.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// Matches a name against a pattern with '*' (any run of bytes) and '?' (any
// one byte); every other byte, '[' and '\\' included, stands for itself.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool HasWildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool ByteOrderLess(const std::string& a, const std::string& b) {
  return std::strcmp(a.c_str(), b.c_str()) < 0;  // strcmp compares unsigned bytes
}

}  // namespace

EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity) {
  const char* last_separator = std::strrchr(path, '/');
  const char* pattern = last_separator != nullptr ? last_separator + 1 : path;
  if (*pattern == '\0' || capacity == 0) return {false, false};
  std::string folder = last_separator != nullptr
                           ? std::string(path, static_cast<std::size_t>(last_separator - path + 1))
                           : std::string("./");

  // A POSIX name may hold '*' and '?' itself: an entry named exactly by the
  // typed component wins, and only a component that names none is a pattern.
  struct stat target;
  const bool exact = lstat(path, &target) == 0;
  const bool wildcard = !exact && HasWildcard(pattern);
  if (!exact && !wildcard) return {false, false};

  // Without a wildcard the entry exists; the scan only looks for the spelling
  // the folder holds (another letter case on a case-insensitive file system).
  std::string best = wildcard ? std::string() : std::string(pattern);
  bool best_found = false;
  bool release_failed = false;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (IsDotEntry(name)) continue;
      bool matches;
      if (wildcard) {
        matches = WildcardMatch(pattern, name);
      } else if (std::strcmp(name, pattern) == 0) {
        best = name;
        best_found = true;
        break;  // the typed spelling is the folder's own
      } else if (entry->d_ino == target.st_ino) {
        struct stat candidate;
        std::string candidate_path = folder + name;
        matches = lstat(candidate_path.c_str(), &candidate) == 0 &&
                  candidate.st_dev == target.st_dev && candidate.st_ino == target.st_ino;
      } else {
        matches = false;
      }
      if (matches && (!best_found || ByteOrderLess(name, best))) {
        best = name;
        best_found = true;
      }
    }
    release_failed = closedir(dir) != 0;
  }
  if (wildcard && !best_found) return {false, release_failed};
  std::size_t length = best.size() < capacity - 1 ? best.size() : capacity - 1;
  std::memcpy(stored_name, best.data(), length);
  stored_name[length] = '\0';
  return {true, release_failed};
}
}  // namespace platform
