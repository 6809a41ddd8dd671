// The platform layer on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

namespace {
event_pump g_pump = nullptr;

int64_t nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void fill_state(const struct stat& st, file_state* state) {
  state->device = st.st_dev;
  state->inode = st.st_ino;
  state->size = st.st_size;
  state->mtime_ns = nanoseconds(st.st_mtim);
  state->ctime_ns = nanoseconds(st.st_ctim);
}

}  // namespace

unique_fd::~unique_fd() {
  if (fd_ >= 0) ::close(fd_);
}

unique_fd& unique_fd::operator=(unique_fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

bool state_of(int fd, file_state* state) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  fill_state(st, state);
  return true;
}

unique_fd open_regular_fd(const char* path, file_state* state) {
  if (path == nullptr) return unique_fd();
  // Opening a device can have effects of its own (a watchdog starts, a tape rewinds), so
  // anything but a regular file is refused before it is opened.
  struct stat named;
  if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode)) return unique_fd();
  // Should the name be swapped for a FIFO meanwhile, O_NONBLOCK keeps the open from
  // blocking and the type check below refuses it. Reads of a regular file ignore the flag.
  unique_fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return fd;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return unique_fd();
  if (state != nullptr) fill_state(st, state);
  return fd;
}

unique_file open_regular(const char* path) {
  unique_fd fd = open_regular_fd(path, nullptr);
  if (!fd) return nullptr;
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags != -1) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = fdopen(fd.get(), "rb");
  if (f == nullptr) return nullptr;
  fd.release();
  return unique_file(f);
}

int64_t read_at(int fd, void* buffer, size_t n, int64_t offset) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, n - done,
                          static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool list_folder(const char* dir, std::vector<dir_entry>* entries, folder_id* id) {
  entries->clear();
  if (dir == nullptr) return false;
  // One descriptor gives both the folder's identity and its listing, so the two agree.
  int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat self;
  if (fstat(fd, &self) != 0) {
    ::close(fd);
    return false;
  }
  if (id != nullptr) *id = {self.st_dev, self.st_ino};
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    ::close(fd);
    return false;
  }
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

bool list_folder(const char* dir, std::vector<dir_entry>* entries) {
  return list_folder(dir, entries, nullptr);
}

bool on_kernel_file_system(const char* dir) {
  struct statfs fs;
  if (dir == nullptr || ::statfs(dir, &fs) != 0) return false;
  // Not in every version of linux/magic.h.
  constexpr unsigned long kConfigFs = 0x62656570, kFuseControl = 0x65735543;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BINFMTFS_MAGIC:
    case NSFS_MAGIC:
    case kConfigFs:
    case kFuseControl:
      return true;
    default:
      return false;
  }
}

bool delete_path(const char* path) { return ::unlink(path) == 0; }

void set_event_pump(event_pump pump) { g_pump = pump; }

void pump_events(void* window) {
  if (g_pump != nullptr) g_pump(window);
}

}  // namespace platform
