// The save path of the store: a temporary file beside the database, flushed, synced and
// renamed over it; writing in place only when no file can be made beside it.
#include "database/safe_save.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "database/diagnostics.h"

namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr int kTempAttempts = 100;
constexpr int kAsideAttempts = 10000;

save_faults::plan g_plan;
int g_calls[save_faults::kStepCount];

// Counts a step and tells whether the test seam wants it to fail (with errno set).
bool injected(save_faults::step s, int err) {
  int n = g_calls[s]++;
  if (g_plan.fail != s || g_plan.nth != n) return false;
  errno = err;
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes the directory entry of a rename durable; a failure here cannot undo the rename,
// so it is not reported.
void sync_folder(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

namespace safe_save {

db_writer::db_writer() = default;

db_writer::~db_writer() { abandon(); }

std::string resolve_target(const char* path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(path, nullptr);
    if (real != nullptr) {
      std::string target(real);
      free(real);
      return target;
    }
  }
  return path;
}

bool db_writer::open(const char* path) {
  for (int& c : g_calls) c = 0;
  target_ = resolve_target(path);
  struct stat st;
  bool exists = stat(target_.c_str(), &st) == 0;
  // What an open for writing would refuse is refused here too, although a rename could
  // replace it: a folder, a device, a file the user may not write.
  if (exists && (!S_ISREG(st.st_mode) || access(target_.c_str(), W_OK) != 0)) return false;

  chunk_size_ = g_plan.chunk_bytes != 0 ? g_plan.chunk_bytes : kChunkBytes;
  chunk_.reset(new (std::nothrow) unsigned char[chunk_size_]);
  if (!chunk_) return false;

  std::string base = base_of(target_).substr(0, NAME_MAX / 2);
  std::string prefix = folder_of(target_) + "/." + base + ".save-" + std::to_string(getpid()) + "-";
  static unsigned serial = 0;
  int fd = -1;
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    std::string name = prefix + std::to_string(serial++);
    if (injected(save_faults::kCreateTemp, EACCES)) break;
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temp_ = name;
      break;
    }
    if (errno != EEXIST) break;
  }
  if (fd >= 0) {
    if (exists) fchmod(fd, st.st_mode & 07777);
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      close(fd);
      unlink(temp_.c_str());
      temp_.clear();
    }
  }
  if (file_ == nullptr) file_ = fopen(target_.c_str(), "wb");  // in place, as a last resort
  return file_ != nullptr;
}

bool db_writer::write(const void* bytes, size_t n) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  while (n > 0 && !failed_) {
    size_t take = chunk_size_ - chunk_used_;
    if (take > n) take = n;
    memcpy(chunk_.get() + chunk_used_, p, take);
    chunk_used_ += take;
    p += take;
    n -= take;
    if (chunk_used_ == chunk_size_) drain();
  }
  return !failed_;
}

bool db_writer::drain() {
  if (failed_) return false;
  if (chunk_used_ == 0) return true;
  size_t put = 0;
  if (!injected(save_faults::kWrite, ENOSPC)) put = fwrite(chunk_.get(), 1, chunk_used_, file_);
  written_ += put;
  if (put < chunk_used_) failed_ = true;
  chunk_used_ = 0;
  return !failed_;
}

bool db_writer::commit() {
  if (file_ == nullptr || !drain()) {
    abandon();
    return false;
  }
  if (injected(save_faults::kFlush, ENOSPC) || fflush(file_) != 0 ||
      injected(save_faults::kSync, EIO) || fsync(fileno(file_)) != 0) {
    abandon();
    return false;
  }
  FILE* f = file_;
  file_ = nullptr;
  bool closed = !injected(save_faults::kClose, EIO);
  if (fclose(f) != 0) closed = false;
  if (!closed) {
    abandon();
    return false;
  }
  if (temp_.empty()) return true;
  if (injected(save_faults::kRename, EIO) || rename(temp_.c_str(), target_.c_str()) != 0) {
    abandon();
    return false;
  }
  temp_.clear();
  sync_folder(folder_of(target_));
  return true;
}

void db_writer::abandon() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
  failed_ = true;
}

bool move_aside(const std::string& path) {
  for (int n = 0; n < kAsideAttempts; ++n) {
    std::string aside = path + ".unreadable" + (n == 0 ? "" : "." + std::to_string(n));
    bool moved = renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0;
    if (!moved && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without an exclusive rename: a hard link never replaces a file.
      moved = link(path.c_str(), aside.c_str()) == 0 && unlink(path.c_str()) == 0;
    }
    if (moved) {
      db_print("unreadable database %s moved to %s\n", path.c_str(), aside.c_str());
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace safe_save

namespace save_faults {

void set(const plan& p) { g_plan = p; }
void reset() { g_plan = plan{}; }
int calls(step s) { return g_calls[s]; }

}  // namespace save_faults
