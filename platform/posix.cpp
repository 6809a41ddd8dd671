// The platform layer on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

namespace {

// Where a path leads for the *at calls: a folder to start from (none: the current folder)
// and the rest of the path. A path the system takes whole stays whole; a longer one is
// entered at its separators, in pieces the system takes, each relative to the last.
struct place {
  unique_fd folder;
  const char* rest = nullptr;
  int at() const { return folder ? folder.get() : AT_FDCWD; }
};

bool reach(const char* path, place* out) {
  const char* rest = path;
  while (strlen(rest) >= PATH_MAX) {
    // The last separator within reach ends the piece; a name is far shorter than PATH_MAX.
    const char* cut = rest + PATH_MAX - 1;
    while (cut > rest && *cut != kSeparator) --cut;
    if (cut == rest) {
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string piece(rest, static_cast<size_t>(cut - rest));
    // O_PATH: passing through a folder needs only the right to search it, as in a whole path.
    unique_fd next(::openat(out->at(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!next) return false;
    out->folder = std::move(next);
    rest = cut;
    while (*rest == kSeparator) ++rest;
  }
  out->rest = rest;
  return true;
}

}  // namespace

unique_fd open_regular_fd_at(int folder, const char* name, file_state* state) {
  if (name == nullptr) {
    errno = EINVAL;
    return unique_fd();
  }
  // Opening a device can have effects of its own (a watchdog starts, a tape rewinds), so
  // anything but a regular file is refused before it is opened.
  struct stat named;
  if (::fstatat(folder, name, &named, 0) != 0) return unique_fd();
  if (!S_ISREG(named.st_mode)) {
    errno = S_ISDIR(named.st_mode) ? EISDIR : EINVAL;
    return unique_fd();
  }
  // Should the name be swapped for a FIFO meanwhile, O_NONBLOCK keeps the open from
  // blocking and the type check below refuses it. Reads of a regular file ignore the flag.
  unique_fd fd(::openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return fd;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return unique_fd();
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return unique_fd();
  }
  if (state != nullptr) fill_state(st, state);
  return fd;
}

unique_fd open_regular_fd(const char* path, file_state* state) {
  place where;
  if (path == nullptr) {
    errno = EINVAL;
    return unique_fd();
  }
  if (!reach(path, &where)) return unique_fd();
  return open_regular_fd_at(where.at(), where.rest, state);
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

int readable_regular_at(int folder, const char* name, bool known_regular) {
  if (name == nullptr) return EINVAL;
  if (!known_regular) {
    struct stat st;
    if (::fstatat(folder, name, &st, 0) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  // The effective ids, as open uses; access control lists and the like are looked at too.
  return ::faccessat(folder, name, R_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int readable_regular(const char* path, bool known_regular) {
  place where;
  if (path == nullptr) return EINVAL;
  if (!reach(path, &where)) return errno;
  return readable_regular_at(where.at(), where.rest, known_regular);
}

bool state_at(int folder, const char* name, file_state* state) {
  struct stat st;
  if (name == nullptr || ::fstatat(folder, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) return false;
  fill_state(st, state);
  return true;
}

int64_t regular_size_at(int folder, const char* name) {
  file_state state;
  return state_at(folder, name, &state) ? state.size : -1;
}

void read_ahead(int fd, int64_t offset, int64_t length) {
  if (length > 0) posix_fadvise(fd, offset, length, POSIX_FADV_WILLNEED);
}

unsigned char* huge_pages_in(unsigned char* block, size_t bytes) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  const uintptr_t end = (start + bytes) / kHugePageBytes * kHugePageBytes;
  if (end <= first) return block;
  // Only advice: where the system has no huge pages to give the memory stays as it is.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  return block + (first - start);
}

int64_t physical_offset(int fd) {
  // Room for the first extent only: where a file starts is what orders the reads.
  alignas(struct fiemap) unsigned char query[sizeof(struct fiemap) +
                                             sizeof(struct fiemap_extent)] = {};
  auto* map = reinterpret_cast<struct fiemap*>(query);
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_extent_count = 1;
  if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) return -1;
  const struct fiemap_extent& first = map->fm_extents[0];
  // Data kept inside the inode or not yet placed has no place of its own on the disk.
  if ((first.fe_flags & (FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DATA_INLINE |
                         FIEMAP_EXTENT_NOT_ALIGNED)) != 0)
    return -1;
  return static_cast<int64_t>(first.fe_physical);
}

signals_to_starter::signals_to_starter() {
  sigset_t blocked;
  sigfillset(&blocked);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
    sigdelset(&blocked, fault);
  pthread_sigmask(SIG_BLOCK, &blocked, &before_);
}

signals_to_starter::~signals_to_starter() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

bool in_cache(int fd, int64_t length) {
#if defined(__NR_cachestat)
  constexpr long kCachestat = __NR_cachestat;
#elif defined(__x86_64__) || defined(__aarch64__)
  constexpr long kCachestat = 451;  // Linux 6.5; the headers of older systems lack its name
#else
  constexpr long kCachestat = -1;
#endif
  // The system call's own structures (Linux 6.5), which older C libraries do not declare.
  struct {
    uint64_t offset, length;
  } range = {0, static_cast<uint64_t>(length)};
  struct {
    uint64_t cached, dirty, writeback, evicted, recently_evicted;
  } pages = {};
  if (length <= 0) return true;
  if (kCachestat < 0 || syscall(kCachestat, fd, &range, &pages, 0) != 0) return false;
  const int64_t page = sysconf(_SC_PAGESIZE);
  return pages.cached >= static_cast<uint64_t>((length + page - 1) / page);
}

unique_fd open_folder_at(int folder, const char* name) {
  return unique_fd(::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
}

unique_fd open_folder(const char* path) {
  place where;
  if (path == nullptr) {
    errno = EINVAL;
    return unique_fd();
  }
  if (!reach(path, &where)) return unique_fd();
  // A long path ending in a separator leaves nothing after its pieces: the last one is it.
  const bool split = static_cast<bool>(where.folder);
  return open_folder_at(where.at(), split && *where.rest == '\0' ? "." : where.rest);
}

bool list_folder(int folder, std::vector<dir_entry>* entries, folder_id* id) {
  entries->clear();
  struct stat self;
  if (fstat(folder, &self) != 0) return false;
  if (id != nullptr) *id = {self.st_dev, self.st_ino};
  // The listing reads through a descriptor of its own, which closedir releases; the
  // caller's stays open to reach the entries.
  int own = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return false;
  DIR* d = fdopendir(own);
  if (d == nullptr) {
    int error = errno;
    ::close(own);
    errno = error;
    return false;
  }
  // The copy shares the descriptor's position: start from the top, whoever listed before.
  rewinddir(d);
  int error = 0;
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d);
    if (e == nullptr) {
      error = errno;
      break;
    }
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    bool is_folder = e->d_type == DT_DIR;
    bool is_regular = e->d_type == DT_REG;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      // Links are followed like the system's own listing does; the walk guards loops.
      struct stat st;
      if (fstatat(folder, e->d_name, &st, 0) == 0) {
        is_folder = S_ISDIR(st.st_mode);
        is_regular = S_ISREG(st.st_mode);
      }
    }
    entries->push_back({e->d_name, is_folder, is_regular});
  }
  closedir(d);
  errno = error;
  return error == 0;
}

bool list_folder(const char* dir, std::vector<dir_entry>* entries, folder_id* id) {
  entries->clear();
  unique_fd folder = open_folder(dir);
  return folder && list_folder(folder.get(), entries, id);
}

bool list_folder(const char* dir, std::vector<dir_entry>* entries) {
  return list_folder(dir, entries, nullptr);
}

bool on_kernel_file_system(int folder) {
  struct statfs fs;
  if (::fstatfs(folder, &fs) != 0) return false;
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

bool on_kernel_file_system(const char* dir) {
  unique_fd folder = open_folder(dir);
  return folder && on_kernel_file_system(folder.get());
}

bool delete_path(const char* path) {
  place where;
  return path != nullptr && reach(path, &where) && ::unlinkat(where.at(), where.rest, 0) == 0;
}

void set_event_pump(event_pump pump) { g_pump = pump; }

void pump_events(void* window) {
  if (g_pump != nullptr) g_pump(window);
}

}  // namespace platform
