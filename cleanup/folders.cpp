// Real paths and component-wise containment.
#include "cleanup/folders.h"

#include <limits.h>
#include <stdlib.h>

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

const std::string& folder_resolver::real_folder_of(std::string_view path) {
  const size_t slash = path.rfind('/');
  std::string folder(slash == std::string_view::npos ? std::string_view(".")
                     : slash == 0                    ? std::string_view("/")
                                                     : path.substr(0, slash));
  auto it = cache_.find(folder);
  if (it == cache_.end()) {
    std::string real = real_path(folder);
    it = cache_.emplace(std::move(folder), std::move(real)).first;
  }
  return it->second;
}

bool folder_resolver::file_under(std::string_view path, const std::string& real_folder) {
  const std::string& real = real_folder_of(path);
  if (real.empty()) return lies_under(path, real_folder);
  // The folder itself, or a folder below it, holds the file.
  return real == real_folder || lies_under(real, real_folder);
}

}  // namespace cleanup
