// Internal to the cleanup library: which folder a file lies in, compared by real paths
// (links followed, so a linked ~/Music is the folder it names) and by whole path components
// (/music/a is not under /music/ab).
#ifndef VARNELO_CLEANUP_FOLDERS_H_
#define VARNELO_CLEANUP_FOLDERS_H_

#include <stddef.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace cleanup {

// The real path of a path (realpath), or "" when it cannot be resolved.
std::string real_path(const std::string& path);

// True when path lies inside folder at any depth, both absolute; compared by components.
bool lies_under(std::string_view path, std::string_view folder);

// The real folders of files. Each folder is resolved once, from its parent's real path and
// one look at the folder itself, so a plan over a library's albums costs one system call
// per album rather than one per component of every path.
class folder_resolver {
 public:
  // True when the file at path lies under folder (a real path): its folder resolved through
  // links, or, when that folder cannot be resolved (gone meanwhile), its path as written.
  bool file_under(std::string_view path, const std::string& real_folder) {
    return lies_in(path, folder_of(path), real_folder);
  }
  // The real path of the folder holding the file at path, or "" when it cannot be resolved.
  const std::string& folder_of(std::string_view path);
  // file_under for a file whose folder_of is known.
  static bool lies_in(std::string_view path, const std::string& its_folder,
                      const std::string& real_folder);

  // The real path of an absolute folder path, or "" when it cannot be resolved.
  const std::string& real_folder(std::string_view folder);

  // Makes room for this many folders.
  void reserve(size_t folders) { cache_.reserve(folders); }

 private:
  struct text_hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  std::string resolve(std::string_view folder);
  std::unordered_map<std::string, std::string, text_hash, std::equal_to<>> cache_;
};

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_FOLDERS_H_
