// Protected folders as both programs see them: compared by real paths (a linked folder is the
// folder it names) and by whole path components, the way removal guards them.
#ifndef VARNELO_CLEANUP_PROTECTION_H_
#define VARNELO_CLEANUP_PROTECTION_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cleanup {

class folder_resolver;

class protected_folders {
 public:
  // Folders as the user named them; those that do not resolve (gone) protect nothing.
  explicit protected_folders(const std::vector<std::string>& folders = {});
  ~protected_folders();
  protected_folders(protected_folders&&) noexcept;
  protected_folders& operator=(protected_folders&&) noexcept;

  // Their real paths, for removal_options::protected_folders and keep rules.
  const std::vector<std::string>& real_paths() const { return real_; }
  bool empty() const { return real_.empty(); }

  // The protected folder (its real path) that holds the file at path, or null. Each folder of
  // the files asked about is resolved once.
  const std::string* folder_holding(std::string_view path);

 private:
  std::vector<std::string> real_;
  std::unique_ptr<folder_resolver> resolver_;
};

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_PROTECTION_H_
