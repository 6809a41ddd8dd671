// Names taken by a walk, joined paths and the folders one walk enters.
#include "database/folder_rules.h"

#include <errno.h>

namespace folder_rules {

bool has_mp3_extension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".mp3") == 0;
}

std::string join(const std::string& dir, const std::string& name) {
  std::string path;
  join_into(dir, name, &path);
  return path;
}

void join_into(const std::string& dir, const std::string& name, std::string* path) {
  path->reserve(dir.size() + 1 + name.size());
  path->assign(dir);
  *path += platform::kSeparator;
  *path += name;
}

namespace {

bool list_opened(listing* out) {
  if (!out->folder) {
    out->error = errno;
    return false;
  }
  if (platform::list_folder(out->folder.get(), &out->entries, &out->id)) return true;
  out->error = errno;
  // A folder whose identity could not even be taken gave nothing to walk.
  return !out->entries.empty();
}

}  // namespace

bool enter_chosen(const std::string& path, listing* out) {
  // Listing path + separator keeps an emptied root ("/" trimmed to "") meaning the root.
  out->folder = platform::open_folder((path + platform::kSeparator).c_str());
  return list_opened(out);
}

bool enter_at(int parent, const std::string& name, listing* out) {
  out->folder = platform::open_folder_at(parent, name.c_str());
  return list_opened(out);
}

bool folder_guard::enter(int folder, const platform::folder_id& id,
                         const platform::folder_id* parent) {
  if (entered_.count(id) != 0) return false;
  // Every such file system is a device of its own, so only a change of device is looked
  // into; a chosen folder on one is walked as asked.
  if (parent != nullptr && parent->device != id.device && platform::on_kernel_file_system(folder))
    return false;
  entered_.insert(id);
  return true;
}

}  // namespace folder_rules
