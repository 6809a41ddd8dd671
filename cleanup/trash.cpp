// The trash through GIO's local file system: g_file_trash finds the right trash folder for a
// file's file system and writes the .trashinfo the desktop needs to restore it. The local
// VFS is asked directly, so no GIO module is loaded and no session bus is needed.
#include "cleanup/trash.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

namespace cleanup {

namespace {

struct object_unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct error_free {
  void operator()(GError* error) const { g_error_free(error); }
};

}  // namespace

trash_result move_to_trash(const std::string& path, std::string* message) {
  std::unique_ptr<GFile, object_unref> file(
      g_vfs_get_file_for_path(g_vfs_get_local(), path.c_str()));
  GError* raw = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw)) return trash_result::moved;
  std::unique_ptr<GError, error_free> error(raw);
  if (message != nullptr) *message = error ? error->message : "cannot move it to the trash";
  // GIO says "not supported" when a file system keeps no trash (tmpfs and other mounts of the
  // system's own) or none can be made at its top. When the home trash cannot be made it
  // reports the failed mkdir instead: a file still in a folder it could be moved out of
  // means the trash is what failed.
  if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED))
    return trash_result::no_trash;
  struct stat st;
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (lstat(path.c_str(), &st) == 0 && access(folder.empty() ? "." : folder.c_str(), W_OK) == 0)
    return trash_result::no_trash;
  return trash_result::failed;
}

}  // namespace cleanup
