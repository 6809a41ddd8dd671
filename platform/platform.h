// What the database needs of the operating system: opening regular files for reading,
// listing a folder, deleting a file, and the event pump of a folder walk.
#ifndef VARNELO_PLATFORM_PLATFORM_H_
#define VARNELO_PLATFORM_PLATFORM_H_

#include <stdint.h>
#include <stdio.h>
#include <signal.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {

// The path separator of folder joins and trims.
constexpr char kSeparator = '/';

struct file_closer {
  void operator()(FILE* f) const { fclose(f); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

// Paths of any length: the functions that take a path accept paths longer than the system
// takes whole (PATH_MAX), by entering their leading folders a piece at a time, following
// links in them as the system does in a whole path. A refused call leaves the system's
// reason in errno: EISDIR for a folder and EINVAL for anything else that is not a regular
// file (a FIFO, a device, a socket) where a regular file is wanted.

// Opens path for reading ("rb") only if it is a regular file: folders, FIFOs, devices
// and sockets count as not openable, and opening never blocks. Null on failure.
unique_file open_regular(const char* path);

// A file descriptor closed on every path.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  ~unique_fd();
  unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
  unique_fd& operator=(unique_fd&& other) noexcept;
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Which file an open descriptor is and what it looked like: two states are equal only
// when it is the same file with the same size, modified and changed at the same times.
struct file_state {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = 0;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;
  bool operator==(const file_state&) const = default;
};

// The state of an open file; false when it cannot be taken.
bool state_of(int fd, file_state* state);

// The state of the regular file name in the open folder (links followed), without opening
// it; false when it is no regular file or cannot be looked at.
bool state_at(int folder, const char* name, file_state* state);

// open_regular as a bare descriptor, with the file's state taken from the open file.
unique_fd open_regular_fd(const char* path, file_state* state);
// The same for the entry name of the folder open as folder (or a path relative to it).
unique_fd open_regular_fd_at(int folder, const char* name, file_state* state);

// Reads exactly n bytes at offset (or up to the end of the file); the number read,
// or -1 on a read error. Interrupted reads are resumed.
int64_t read_at(int fd, void* buffer, size_t n, int64_t offset);

// Whether open_regular_fd would open path, without opening it: 0 when it names a regular
// file this process may read, else the errno value open_regular_fd would leave (EISDIR,
// EINVAL, EACCES, ENOENT and the like). known_regular: a listing has just shown the entry
// as a regular file, so only the right to read it is looked at (one system call).
int readable_regular(const char* path, bool known_regular);
// The same for the entry name of the folder open as folder.
int readable_regular_at(int folder, const char* name, bool known_regular);

// Looks at runs of files the way readable_regular_at does, many in one system call where
// the system allows it: each regular file is opened for reading and closed again by
// io_uring, so that a look at thousands of listed files costs a fraction of one call each.
// Where io_uring is missing or refused, and for every file a batch could not open, each
// file is looked at by readable_regular_at, which gives the same answers.
class open_checker {
 public:
  struct file {
    int folder = -1;
    const char* name = nullptr;
    bool known_regular = false;  // as for readable_regular_at
    int error = 0;               // out: 0, or the errno value readable_regular_at gives
  };
  // batched false: every file by readable_regular_at (to compare the two ways).
  explicit open_checker(bool batched = true);
  ~open_checker();
  open_checker(const open_checker&) = delete;
  open_checker& operator=(const open_checker&) = delete;

  void check(file* files, size_t count);
  // Whether runs are opened in batches (false before the first check, or without io_uring).
  bool batching() const { return ring_ != nullptr; }

 private:
  struct ring;
  bool batched_;
  bool tried_ = false;
  std::unique_ptr<ring> ring_;
};

// The size of the regular file name in the open folder (links followed), or -1 when it is
// no regular file or cannot be looked at. Nothing is opened.
int64_t regular_size_at(int folder, const char* name);

// Asks the system to start reading length bytes at offset of fd into its cache now, so
// that a read of them later finds them there. It does not wait for the disk.
void read_ahead(int fd, int64_t offset, int64_t length);
// Where the file's first byte lies on its device (bytes from the device's start), for
// reading several files in the order of the disk; -1 where the file system does not say.
int64_t physical_offset(int fd);
// Whether every byte of the first length bytes of fd is in the system's cache now, so that
// reading them will not wait for the disk. False where the system cannot tell.
bool in_cache(int fd, int64_t length);

// The size of the huge pages the system may back memory with.
constexpr size_t kHugePageBytes = size_t{2} << 20;
// For a buffer of megabytes that the processor reads through again and again: asks the
// system to back the part of block (bytes long) made of whole huge pages with huge pages
// where it can, which spares misses of the address cache. Returns where that part starts
// (block itself where there is none); a caller that allocates kHugePageBytes more than it
// needs has room for what it needs from there.
unsigned char* huge_pages_in(unsigned char* block, size_t bytes);

// Which folder a listing was made of (links followed), to recognise it when met again.
struct folder_id {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const folder_id&) const = default;
};

// One entry of a folder listing.
struct dir_entry {
  std::string name;
  bool is_folder;  // links to folders count as folders, as the system's own listing does
  bool is_regular = false;  // a regular file (through links too) when it was listed
};

// Opens a folder to list it and to reach what it holds by name, whatever the length of the
// path that leads to it: a walk holds one per level and never needs a whole path.
unique_fd open_folder(const char* path);
// The folder named name in the open folder (links to folders followed).
unique_fd open_folder_at(int folder, const char* name);

// Lists the open folder ("." and ".." left out) in the order the system delivers the
// entries, and tells which folder it is. The whole listing is read before it returns, so
// nothing but the folder's own descriptor stays open while the caller descends. False, with
// errno, when the folder cannot be listed or its listing broke off (the entries read until
// then are kept).
bool list_folder(int folder, std::vector<dir_entry>* entries, folder_id* id);
// The same by path. Returns false when the folder cannot be listed.
bool list_folder(const char* dir, std::vector<dir_entry>* entries);
bool list_folder(const char* dir, std::vector<dir_entry>* entries, folder_id* id);

// True when the folder is on a file system the kernel makes up to show its own state
// (processes, devices, control groups and the like): such a tree holds no user files,
// changes as it is read, and its links lead back all over the system. False when it cannot
// be told.
bool on_kernel_file_system(int folder);
bool on_kernel_file_system(const char* dir);

// Deletes a file (a symbolic link is deleted as the link). True when it is gone.
bool delete_path(const char* path);

// The function that handles a window's pending events during a long walk. The window is
// opaque here: whatever the program on top passed down.
using event_pump = void (*)(void* window);
void set_event_pump(event_pump pump);
// Handles the pending events of window through the registered pump; nothing without one.
void pump_events(void* window);

// While one lives, the threads started by this thread take no signals sent to the process
// (Ctrl-C, a request to end): those go to the thread that started them, the one whose walk
// they stop, rather than to a helper that may sleep long. Signals a fault raises in a
// thread itself still reach it.
class signals_to_starter {
 public:
  signals_to_starter();
  ~signals_to_starter();
  signals_to_starter(const signals_to_starter&) = delete;
  signals_to_starter& operator=(const signals_to_starter&) = delete;

 private:
  sigset_t before_;
};

}  // namespace platform

#endif  // VARNELO_PLATFORM_PLATFORM_H_
