// The entry of a file by its real path. Entries are compared by their folders' real paths
// and their names, each folder resolved once.
#include "cleanup/file_entry.h"

#include <string_view>

#include "cleanup/folders.h"
#include "database/mp3_db.h"

namespace cleanup {

namespace {

// The real path of the file at path from its folder's real path, or "" when it is unknown.
std::string through_folder(folder_resolver& folders, std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  const std::string& folder = folders.folder_of(path);
  if (folder.empty()) return {};
  return (folder == "/" ? "" : folder) + std::string(path.substr(slash));
}

}  // namespace

std::string canonical_file_path(const std::string& path) {
  std::string real = real_path(path);
  if (!real.empty()) return real;
  folder_resolver folders;
  return through_folder(folders, path);
}

int32_t find_entry(const std::string& path) {
  int32_t index = get_fileentrybyfilename(path.c_str());
  if (index != -1) return index;
  const std::string real = canonical_file_path(path);
  if (real.empty()) return -1;
  index = get_fileentrybyfilename(real.c_str());
  if (index != -1) return index;
  folder_resolver folders;
  for (uint32_t k = 0, n = file_getfilenum(); k < n; ++k) {
    if (through_folder(folders, db_getfileentry(k)->filename) == real)
      return static_cast<int32_t>(k);
  }
  return -1;
}

}  // namespace cleanup
