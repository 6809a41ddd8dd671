// Names and folders of recovery files.
#include "database/recovery.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "database/safe_save.h"

namespace recovery {
namespace {

constexpr char kExtension[] = ".mp3db";
constexpr size_t kExtensionLength = sizeof kExtension - 1;
// Room left in a file name for ".recovered-NNN.mp3db".
constexpr size_t kSuffixRoom = 32;

// Makes path and its missing parents, private to the user; true when it is a folder.
bool make_folders(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_folders(path.substr(0, slash))) return false;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string home_folder() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* user = getpwuid(getuid());
  return user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/' ? user->pw_dir : "";
}

}  // namespace

std::string file_name(const std::string& folder, const char* name, int n) {
  std::string base = safe_save::base_of(name);
  if (base.size() > kExtensionLength &&
      base.compare(base.size() - kExtensionLength, kExtensionLength, kExtension) == 0)
    base.resize(base.size() - kExtensionLength);
  base = base.substr(0, NAME_MAX - kSuffixRoom);
  base += ".recovered";
  if (n > 0) {
    base += '-';  // not "-" + std::string: GCC 12 warns falsely (-Wrestrict) on that
    base += std::to_string(n);
  }
  base += kExtension;
  std::string dir = folder.empty() ? safe_save::folder_of(name) : folder;
  // A database named without a folder gets its recovery file named the same way.
  if (folder.empty() && std::string(name).find('/') == std::string::npos) return base;
  return dir == "/" ? "/" + base : dir + "/" + base;
}

std::string state_folder() {
  std::string state;
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    state = xdg;
  } else {
    std::string home = home_folder();
    if (home.empty()) return "";
    state = home + "/.local/state";
  }
  state += "/varnelo";
  return make_folders(state) ? state : "";
}

}  // namespace recovery
