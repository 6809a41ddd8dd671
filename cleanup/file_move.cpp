// Moving a file without replacing one: renameat2(RENAME_NOREPLACE), or a hard link and an
// unlink where a file system lacks it; across file systems a copy under a temporary name made
// with O_EXCL, checked, then renamed the same way.
#include "cleanup/file_move.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "cleanup/folders.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace cleanup {

namespace {

constexpr size_t kChunk = size_t{1} << 20;

std::string failure(const char* what) { return std::string(what) + ": " + strerror(errno); }

// Renames from to to unless something is at to (EEXIST then). A file system without
// RENAME_NOREPLACE gets a hard link, which never replaces either, and the unlink of from.
int rename_noreplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(from, to) != 0) return -1;
  if (unlink(from) != 0) {
    const int error = errno;
    unlink(to);
    errno = error;
    return -1;
  }
  return 0;
}

void sync_folder(const std::string& folder) {
  platform::unique_fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) fsync(fd.get());
}

// Writes all of data; false on a failed write.
bool write_all(int fd, const unsigned char* data, size_t n) {
  while (n > 0) {
    const ssize_t written = write(fd, data, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

// The MD5 of everything the descriptor reads from its start, or false on a read error.
bool digest_of(int fd, std::vector<unsigned char>& buffer, uint8_t digest[16]) {
  md5_state state;
  md5_init(&state);
  for (int64_t at = 0;;) {
    const int64_t n = platform::read_at(fd, buffer.data(), buffer.size(), at);
    if (n < 0) return false;
    if (n == 0) break;
    md5_append(&state, buffer.data(), static_cast<int32_t>(n));
    at += n;
  }
  md5_finish(&state, digest);
  return true;
}

bool same_file_state(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// A name in folder that nothing else uses, for the copy until it is complete.
std::string temporary_name(const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return folder + "/." + name + ".moving-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

// The copy across file systems. On any failure the temporary copy is removed and the
// original stays; reason says why.
bool copy_then_remove(const std::string& path, const std::string& folder, const std::string& name,
                      const std::string& target, std::string* reason) {
  platform::unique_fd source(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat before;
  if (!source || fstat(source.get(), &before) != 0) {
    *reason = failure("cannot read it");
    return false;
  }
  if (!S_ISREG(before.st_mode)) {
    *reason = "not a regular file";
    return false;
  }
  const std::string temporary = temporary_name(folder, name);
  platform::unique_fd copy(
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!copy) {
    *reason = failure("cannot write in the folder");
    return false;
  }
  auto give_up = [&](std::string why) {
    unlink(temporary.c_str());
    *reason = std::move(why);
    return false;
  };

  std::vector<unsigned char> buffer(kChunk);
  md5_state read_state;
  md5_init(&read_state);
  for (int64_t at = 0;;) {
    const int64_t n = platform::read_at(source.get(), buffer.data(), buffer.size(), at);
    if (n < 0) return give_up(failure("cannot read it"));
    if (n == 0) break;
    md5_append(&read_state, buffer.data(), static_cast<int32_t>(n));
    if (!write_all(copy.get(), buffer.data(), static_cast<size_t>(n)))
      return give_up(failure("cannot write the copy"));
    at += n;
  }
  uint8_t original_digest[16];
  md5_finish(&read_state, original_digest);
  // The copy keeps what the keep rules look at: its permission bits and modification time.
  fchmod(copy.get(), before.st_mode & 07777);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  futimens(copy.get(), times);
  if (fsync(copy.get()) != 0) return give_up(failure("cannot write the copy"));
  // Read back from the device, not from the pages just written.
  posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
  if (close(copy.release()) != 0) return give_up(failure("cannot write the copy"));

  struct stat after;
  if (fstat(source.get(), &after) != 0 || !same_file_state(before, after))
    return give_up("it changed while it was copied");
  platform::unique_fd check(open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  uint8_t copy_digest[16];
  if (!check || !digest_of(check.get(), buffer, copy_digest))
    return give_up(failure("cannot read the copy back"));
  if (memcmp(copy_digest, original_digest, sizeof copy_digest) != 0)
    return give_up("the copy read back differs from the original");

  if (rename_noreplace(temporary.c_str(), target.c_str()) != 0) {
    return give_up(errno == EEXIST ? "a file named " + name + " is already in " + folder
                                   : failure("cannot name the copy"));
  }
  sync_folder(folder);
  if (unlink(path.c_str()) != 0) {
    // Two files would be left where the user asked for one: the copy goes again.
    *reason = failure("cannot remove the original");
    unlink(target.c_str());
    return false;
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) sync_folder(slash == 0 ? "/" : path.substr(0, slash));
  return true;
}

}  // namespace

move_outcome move_into_folder(const std::string& path, const std::string& folder_given) {
  move_outcome out;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    out.reason = "gone";
    return out;
  }
  if (S_ISLNK(st.st_mode)) {
    out.reason = "a link, not the file itself";
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.reason = "not a regular file";
    return out;
  }
  std::string folder = folder_given;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  struct stat folder_st;
  if (folder.empty() || stat(folder.c_str(), &folder_st) != 0 || !S_ISDIR(folder_st.st_mode)) {
    out.reason = "the folder " + folder + " does not exist";
    return out;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string from_folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (name.empty()) {
    out.reason = "not a file name";
    return out;
  }
  const std::string real_from = real_path(from_folder);
  if (!real_from.empty() && real_from == real_path(folder)) {
    out.reason = "already in " + folder;
    return out;
  }
  const std::string target = (folder == "/" ? "" : folder) + "/" + name;
  if (rename_noreplace(path.c_str(), target.c_str()) == 0) {
    out.moved = true;
  } else if (errno == EEXIST) {
    out.reason = "a file named " + name + " is already in " + folder;
  } else if (errno == EXDEV) {
    out.moved = out.copied = copy_then_remove(path, folder, name, target, &out.reason);
  } else {
    out.reason = failure("cannot move it");
  }
  if (out.moved) out.new_path = target;
  return out;
}

}  // namespace cleanup
