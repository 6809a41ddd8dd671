// The lock of a database file: taken before a program loads what it may save and held until
// it is done, so no save drops what another program saved meanwhile. The lock file carries
// the holder's program name and process id as one line of text, for the others to name it.
#include "database/lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "database/mp3_db.h"
#include "database/safe_save.h"

namespace {

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
constexpr size_t kHolderTextBytes = 256;
// The holder writes its line right after taking the lock; one that finds the lock taken
// waits this long for the line before it names the holder as unknown.
constexpr int kHolderReadAttempts = 50;
constexpr long kHolderReadPauseNs = 10 * 1000 * 1000;
// A lock file removed and made again between an open and its lock is opened afresh.
constexpr int kLockAttempts = 5;

// The lock this process holds: at most one, as the store holds one database.
struct held_lock {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  bool holder_text = false;  // the line of text in it is this process's own
};
held_lock g_held;

// Who held the lock that the last file_lockdb found taken.
std::string g_holder_program;
int32_t g_holder_pid = 0;

// Closes fd without losing the errno that tells why it is given up.
void close_keeping_errno(int fd) {
  int error = errno;
  close(fd);
  errno = error;
}

bool is_held_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_dev == g_held.device && st.st_ino == g_held.inode;
}

bool holds(const char* name) {
  if (g_held.fd < 0) return false;
  // Where no lock file could be made, the database file itself carries the lock.
  return is_held_file(db_lock::lock_path(name)) || is_held_file(safe_save::resolve_target(name));
}

bool folder_refuses_new_files(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// The file whose lock stands for the database: fd, and whether the holder's line can be
// written into it (on_database: it is the database itself).
struct lock_file {
  int fd = -1;
  bool writable = false;
  bool on_database = false;
};

lock_file open_lock_file(const std::string& path, const std::string& target) {
  lock_file f;
  f.fd = open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0666);
  f.writable = f.fd >= 0;
  if (f.fd < 0) {
    int create_error = errno;
    // A lock file made by another user, or on a read-only mount: locking needs no writing.
    if (folder_refuses_new_files(create_error)) f.fd = open(path.c_str(), O_RDONLY | kOpenFlags);
    if (f.fd < 0) {
      // A folder that refuses new files has its database saved in place, so the database
      // file stays the same file and can carry the lock itself.
      struct stat st;
      if (!folder_refuses_new_files(create_error) || stat(target.c_str(), &st) != 0 ||
          !S_ISREG(st.st_mode)) {
        errno = create_error;
        return lock_file{};
      }
      f.fd = open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      f.on_database = true;
      if (f.fd < 0) return lock_file{};
    }
  }
  struct stat st;
  if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(f.fd);
    errno = EINVAL;
    return lock_file{};
  }
  return f;
}

bool try_lock(int fd) {
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Reads the holder's line "PROGRAM PID"; false when there is none or its process is gone
// (a line left by an earlier holder while the present one could not write its own).
bool read_holder(int fd) {
  char text[kHolderTextBytes];
  ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return false;
  text[n] = '\0';
  char* end = strchr(text, '\n');
  if (end == nullptr) return false;
  *end = '\0';
  char* space = strrchr(text, ' ');
  if (space == nullptr || space == text) return false;
  char* tail = nullptr;
  errno = 0;
  long pid = strtol(space + 1, &tail, 10);
  if (errno != 0 || *tail != '\0' || pid <= 0 || pid > INT32_MAX) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  g_holder_program.assign(text, space);
  g_holder_pid = static_cast<int32_t>(pid);
  return true;
}

// Writes "PROGRAM PID" into the lock file. The line goes first and the length after, so a
// reader meanwhile sees the new line (and the old tail after its line end), never nothing.
bool write_holder(int fd, const char* program) {
  struct stat st;
  // A lock file linked under another name too is not this program's to rewrite.
  if (fstat(fd, &st) != 0 || st.st_nlink != 1) return false;
  std::string text = program != nullptr && *program != '\0' ? program : "unnamed";
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
  text += ' ';
  text += std::to_string(getpid());
  text += '\n';
  return pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
         ftruncate(fd, static_cast<off_t>(text.size())) == 0;
}

// True when the lock file is still the file that path names: one removed between the open
// and the lock would exclude nobody.
bool still_named(const std::string& path, int fd) {
  struct stat named, open_file;
  return stat(path.c_str(), &named) == 0 && fstat(fd, &open_file) == 0 &&
         named.st_dev == open_file.st_dev && named.st_ino == open_file.st_ino;
}

}  // namespace

namespace db_lock {

std::string lock_path(const char* name) {
  std::string target = safe_save::resolve_target(name);
  // Two names that agree in their first NAME_MAX - 6 bytes share a lock: a lock too many
  // never loses data.
  std::string base = safe_save::base_of(target).substr(0, NAME_MAX - 6);
  return safe_save::folder_of(target) + "/." + base + ".lock";
}

bool save_permitted(const char* name) {
  if (holds(name)) return true;
  int fd = open(lock_path(name).c_str(), O_RDONLY | kOpenFlags);
  if (fd < 0) return true;
  bool free = flock(fd, LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK;
  close(fd);
  return free;
}

}  // namespace db_lock

int file_lockdb(const char* name, const char* program) {
  if (name == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (holds(name)) return 1;
  const std::string path = db_lock::lock_path(name);
  const std::string target = safe_save::resolve_target(name);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    lock_file f = open_lock_file(path, target);
    if (f.fd < 0) return -1;
    bool locked = try_lock(f.fd);
    if (!locked) {
      if (errno != EWOULDBLOCK) {
        close_keeping_errno(f.fd);
        return -1;
      }
      g_holder_program.clear();
      g_holder_pid = 0;
      for (int i = 0; !f.on_database && i < kHolderReadAttempts; ++i) {
        if (read_holder(f.fd)) break;
        struct timespec pause = {0, kHolderReadPauseNs};
        nanosleep(&pause, nullptr);
        if ((locked = try_lock(f.fd))) break;
      }
      if (!locked) {
        close(f.fd);
        return 0;
      }
    }
    if (!f.on_database && !still_named(path, f.fd)) {
      close(f.fd);
      continue;
    }
    struct stat st;
    if (fstat(f.fd, &st) != 0) {
      close_keeping_errno(f.fd);
      return -1;
    }
    bool own_text = f.writable && write_holder(f.fd, program);
    file_unlockdb();
    g_held = held_lock{f.fd, st.st_dev, st.st_ino, own_text};
    return 1;
  }
  errno = EAGAIN;
  return -1;
}

void file_unlockdb() {
  if (g_held.fd < 0) return;
  // A line naming this process would outlive it; the next holder writes its own.
  if (g_held.holder_text) {
    // Should this fail, readers still check that the process a line names is alive.
    int ignored = ftruncate(g_held.fd, 0);
    (void)ignored;
  }
  close(g_held.fd);
  g_held = held_lock{};
}

int file_haslock(const char* name) { return name != nullptr && holds(name) ? 1 : 0; }

int32_t file_lockholder(const char** program) {
  if (program != nullptr) *program = g_holder_program.c_str();
  return g_holder_pid;
}

int file_writabledb(const char* name) {
  if (name == nullptr) {
    errno = EINVAL;
    return 0;
  }
  return safe_save::can_save(name) ? 1 : 0;
}
