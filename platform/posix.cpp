// The platform layer on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

namespace {
event_pump g_pump = nullptr;
}  // namespace

unique_file open_regular(const char* path) {
  if (path == nullptr) return nullptr;
  // O_NONBLOCK so that a FIFO never blocks the open; it is refused by the type check.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return unique_file(f);
}

bool list_folder(const char* dir, std::vector<dir_entry>* entries) {
  entries->clear();
  DIR* d = opendir(dir);
  if (d == nullptr) return false;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    bool folder;
    if (e->d_type == DT_DIR) {
      folder = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      // Links are followed like the system's own listing does; the walk guards loops.
      struct stat st;
      folder = fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    } else {
      folder = false;
    }
    entries->push_back({e->d_name, folder});
  }
  closedir(d);
  return true;
}

bool delete_path(const char* path) { return ::unlink(path) == 0; }

void pump_events(window_handle hwnd) {
  if (g_pump != nullptr) g_pump(hwnd);
}

}  // namespace platform

void mp3db_set_event_pump(event_pump pump) { platform::g_pump = pump; }
