// Directory lookup: the first entry that a name or a wildcard pattern
// matches, as the system lists it.
#include "platform/win32/win32_internal.h"

namespace platform {

namespace {

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

EntryLookup FindDirectoryEntry(const char* path, char* stored_name, std::size_t capacity) {
  EntryLookup lookup{false, false};
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return lookup;

  // The first entry reported is the one: on NTFS the folder's own order.
  // Only "." and "..", which a pattern such as "*" matches, are passed over.
  lookup.found = !IsDotEntry(data.cFileName);
  while (!lookup.found && FindNextFileA(search, &data)) lookup.found = !IsDotEntry(data.cFileName);
  lookup.release_failed = (FindClose(search) == FALSE);

  if (lookup.found && stored_name != nullptr && capacity > 0) {
    const int limit = capacity < MAX_PATH ? static_cast<int>(capacity) : MAX_PATH;
    lstrcpynA(stored_name, data.cFileName, limit);
  }
  return lookup;
}

}  // namespace platform
