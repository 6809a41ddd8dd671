// Putting a file out of the system's page cache, so that reading it waits for the disk again.
#ifndef VARNELO_TESTS_SUPPORT_PAGE_CACHE_H_
#define VARNELO_TESTS_SUPPORT_PAGE_CACHE_H_

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace testing_support {

// False when the file cannot be opened or the system refuses. On a file system kept in
// memory (tmpfs) the file stays cached all the same.
inline bool evict_from_cache(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool done = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  close(fd);
  return done;
}

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_PAGE_CACHE_H_
