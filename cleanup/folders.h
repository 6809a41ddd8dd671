// Internal to the cleanup library: which folder a file lies in, compared by real paths
// (links followed, so a linked ~/Music is the folder it names) and by whole path components
// (/music/a is not under /music/ab).
#ifndef VARNELO_CLEANUP_FOLDERS_H_
#define VARNELO_CLEANUP_FOLDERS_H_

#include <string>
#include <string_view>
#include <unordered_map>

namespace cleanup {

// The real path of a path (realpath), or "" when it cannot be resolved.
std::string real_path(const std::string& path);

// True when path lies inside folder at any depth, both absolute; compared by components.
bool lies_under(std::string_view path, std::string_view folder);

// The real folders of files, each folder resolved once: a plan meets the same folder for
// every file of an album.
class folder_resolver {
 public:
  // True when the file at path lies under folder (a real path): its folder resolved through
  // links, or, when that folder cannot be resolved (gone meanwhile), its path as written.
  bool file_under(std::string_view path, const std::string& real_folder);

 private:
  const std::string& real_folder_of(std::string_view path);
  std::unordered_map<std::string, std::string> cache_;
};

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_FOLDERS_H_
