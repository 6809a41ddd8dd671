// Protected folders through the library's folder resolver.
#include "cleanup/protection.h"

#include "cleanup/folders.h"

namespace cleanup {

protected_folders::protected_folders(const std::vector<std::string>& folders)
    : resolver_(std::make_unique<folder_resolver>()) {
  for (const std::string& folder : folders) {
    std::string real = real_path(folder);
    if (!real.empty()) real_.push_back(std::move(real));
  }
}

protected_folders::~protected_folders() = default;
protected_folders::protected_folders(protected_folders&&) noexcept = default;
protected_folders& protected_folders::operator=(protected_folders&&) noexcept = default;

const std::string* protected_folders::folder_holding(std::string_view path) {
  if (real_.empty()) return nullptr;
  const std::string& folder = resolver_->folder_of(path);
  for (const std::string& real : real_)
    if (folder_resolver::lies_in(path, folder, real)) return &real;
  return nullptr;
}

}  // namespace cleanup
