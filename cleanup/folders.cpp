// Real paths and component-wise containment.
#include "cleanup/folders.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

namespace cleanup {

std::string real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool lies_under(std::string_view path, std::string_view folder) {
  if (folder.empty() || path.empty()) return false;
  if (folder == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
         path[folder.size()] == '/';
}

const std::string& folder_resolver::real_folder(std::string_view folder) {
  auto it = cache_.find(folder);
  if (it != cache_.end()) return it->second;
  std::string real = resolve(folder);
  return cache_.emplace(std::string(folder), std::move(real)).first->second;
}

std::string folder_resolver::resolve(std::string_view folder) {
  if (folder.empty() || folder[0] != '/') return real_path(std::string(folder));
  if (folder == "/") return "/";
  const size_t slash = folder.rfind('/');
  const std::string_view name = folder.substr(slash + 1);
  // The cache's nodes stay where they are as it grows, so the reference outlives inserts.
  const std::string& parent =
      real_folder(slash == 0 ? std::string_view("/") : folder.substr(0, slash));
  if (parent.empty()) return {};
  if (name.empty() || name == ".") return parent;
  if (name == "..")
    return parent == "/" ? parent : parent.substr(0, std::max<size_t>(parent.rfind('/'), 1));
  std::string candidate = (parent == "/" ? "" : parent) + "/" + std::string(name);
  struct stat st;
  if (lstat(candidate.c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return real_path(candidate);
  return S_ISDIR(st.st_mode) ? candidate : std::string();
}

const std::string& folder_resolver::folder_of(std::string_view path) {
  static const std::string none;
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return none;
  return real_folder(slash == 0 ? std::string_view("/") : path.substr(0, slash));
}

bool folder_resolver::lies_in(std::string_view path, const std::string& its_folder,
                              const std::string& real_folder_path) {
  if (its_folder.empty()) return lies_under(path, real_folder_path);
  // The folder itself, or a folder below it, holds the file.
  return its_folder == real_folder_path || lies_under(its_folder, real_folder_path);
}

}  // namespace cleanup
