// The save path of the store: a temporary file beside the database, its space reserved,
// flushed, synced and renamed over it; writing in place only for a folder that refuses new
// files, and only with the whole new size reserved first.
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
constexpr int kLinkHops = 40;  // as many as the kernel follows

save_faults::plan g_plan;
int g_calls[save_faults::kStepCount];

// Counts a step and tells whether the test seam wants it to fail (with errno set).
bool injected(save_faults::step s, int usual_error) {
  int n = g_calls[s]++;
  if (g_plan.fail != s || (g_plan.nth >= 0 && g_plan.nth != n)) return false;
  errno = g_plan.error != 0 ? g_plan.error : usual_error;
  return true;
}

// The errors of making a file in a folder that does not let this user add files to it
// (or is on a read-only mount). Every other failure (no space, no inodes, quota, I/O, no
// descriptors, no free name) says nothing about the folder and so never leads to writing
// the previous file in place.
bool folder_refuses_new_files(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// Makes the directory entry of a rename durable; a failure here cannot undo the rename,
// so it is not reported.
void sync_folder(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Renames from to to, never replacing a file that exists at to (EEXIST then).
bool rename_no_replace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without an exclusive rename: a hard link never replaces a file.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

}  // namespace

namespace safe_save {

db_writer::db_writer() = default;

db_writer::~db_writer() { abandon(); }

std::string resolve_target(const char* path) {
  // Link by link, so that a link to a database not made yet leads to where it will be.
  std::string current = path;
  for (int hop = 0; hop < kLinkHops; ++hop) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    ssize_t n = readlink(current.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) break;
    target.resize(static_cast<size_t>(n));
    current = target[0] == '/' ? target : folder_of(current) + "/" + target;
  }
  return current;
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

bool can_save(const char* path) {
  std::string target = resolve_target(path);
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return false;
    }
    return faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
  }
  if (errno != ENOENT) return false;
  std::string folder = folder_of(target);
  if (stat(folder.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool db_writer::open(const char* path, uint64_t total_bytes, target_mode mode) {
  for (int& c : g_calls) c = 0;
  mode_ = mode;
  total_ = total_bytes;
  target_ = mode == target_mode::replace ? resolve_target(path) : std::string(path);
  struct stat st;
  bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && mode == target_mode::create_new) {
    errno = EEXIST;
    return false;
  }
  // What an open for writing would refuse is refused here too, although a rename could
  // replace it: a folder, a device, a file the user may not write.
  if (exists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (exists && faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return false;

  chunk_size_ = g_plan.chunk_bytes != 0 ? g_plan.chunk_bytes : kChunkBytes;
  chunk_.reset(new (std::nothrow) unsigned char[chunk_size_]);
  if (!chunk_) {
    errno = ENOMEM;
    return false;
  }
  if (make_temp(exists, exists ? st.st_mode & 07777 : 0)) return true;
  int error = errno;
  if (exists && mode == target_mode::replace && folder_refuses_new_files(error))
    return open_in_place();
  errno = error;
  return false;
}

bool db_writer::make_temp(bool exists, unsigned mode_bits) {
  std::string base = base_of(target_).substr(0, NAME_MAX / 2);
  std::string prefix = folder_of(target_) + "/." + base + ".save-" + std::to_string(getpid()) + "-";
  static unsigned serial = 0;
  int fd = -1;
  for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
    std::string name = prefix + std::to_string(serial++);
    fd = injected(save_faults::kCreateTemp, EACCES)
             ? -1
             : ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0)
      temp_ = name;
    else if (errno != EEXIST)
      return false;
  }
  if (fd < 0) return false;  // every name taken: errno is EEXIST
  if (exists) fchmod(fd, mode_bits);
  // No file system can be asked to reserve space: the temporary file is on its own
  // anyway, and a full disk still fails a write before the rename.
  if (!reserve(fd, false) || (file_ = fdopen(fd, "wb")) == nullptr) {
    int error = errno;
    close(fd);
    unlink(temp_.c_str());
    temp_.clear();
    errno = error;
    return false;
  }
  return true;
}

bool db_writer::open_in_place() {
  int fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The previous content is overwritten from the first write on, so the space for the whole
  // new content must be certain before: where the file system cannot promise it, refuse.
  if (!reserve(fd, true) || (file_ = fdopen(fd, "wb")) == nullptr) {
    int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  in_place_ = true;
  return true;
}

bool db_writer::reserve(int fd, bool required) {
  if (total_ == 0) return true;
  int result;
  do {
    // KEEP_SIZE: the blocks are reserved while the file's size and bytes stay as they are.
    result = injected(save_faults::kReserve, ENOSPC)
                 ? -1
                 : fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total_));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  bool unsupported = errno == EOPNOTSUPP || errno == ENOSYS;
  return !required && unsupported;
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
  // Rewritten in place, a longer previous file leaves its tail behind.
  if (injected(save_faults::kFlush, ENOSPC) || fflush(file_) != 0 ||
      (in_place_ && ftruncate(fileno(file_), static_cast<off_t>(written_)) != 0) ||
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
  bool renamed = !injected(save_faults::kRename, EIO) &&
                 (mode_ == target_mode::create_new ? rename_no_replace(temp_, target_)
                                                   : rename(temp_.c_str(), target_.c_str()) == 0);
  if (!renamed) {
    abandon();
    return false;
  }
  temp_.clear();
  sync_folder(folder_of(target_));
  return true;
}

void db_writer::abandon() {
  int error = errno;  // the caller reports why the save failed, not what the cleanup did
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
  failed_ = true;
  errno = error;
}

bool move_aside(const std::string& path) {
  for (int n = 0; n < kAsideAttempts; ++n) {
    std::string aside = path + ".unreadable";
    if (n > 0) {
      aside += '.';  // not "." + std::string: GCC 12 warns falsely (-Wrestrict) on that
      aside += std::to_string(n);
    }
    if (rename_no_replace(path, aside)) {
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
