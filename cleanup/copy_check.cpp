// Reading a copy again: the digest is computed by path, so the file's state is taken from an
// open descriptor before and compared after, together with what the path names by then; a
// copy that changed or was swapped meanwhile never passes.
#include "cleanup/copy_check.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>

#include "database/mp3_db.h"

namespace cleanup {

namespace {

int64_t nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

bool state_of_path(const std::string& path, platform::file_state* state) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *state = {st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
  return true;
}

std::optional<file_identity> identity_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return file_identity{st.st_dev, st.st_ino};
}

copy_check check_copy(const std::string& path, const digest_bytes& digest,
                      platform::file_state* state) {
  platform::file_state before;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &before);
  if (!fd) {
    struct stat st;
    return stat(path.c_str(), &st) != 0 ? copy_check::gone : copy_check::not_regular;
  }
  mp3db_owned<unsigned char> now(md5_hashfile_fast(path.c_str()));
  platform::file_state after_open, after_path;
  if (!platform::state_of(fd.get(), &after_open) || !state_of_path(path, &after_path))
    return copy_check::changing;
  if (!(after_open == before) || !(after_path == before)) return copy_check::changing;
  if (now == nullptr || memcmp(now.get(), digest.data(), digest.size()) != 0)
    return copy_check::changed;
  if (state != nullptr) *state = before;
  return copy_check::holds_content;
}

const char* check_text(copy_check check) {
  switch (check) {
    case copy_check::holds_content:
      return "holds the content";
    case copy_check::gone:
      return "gone";
    case copy_check::not_regular:
      return "no longer a regular file";
    case copy_check::changed:
      return "its content changed since it was added";
    case copy_check::changing:
      return "it changed while it was read";
  }
  return "?";
}

}  // namespace cleanup
