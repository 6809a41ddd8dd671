// Writing a database file so that a failed save never destroys the previous one: the bytes
// go to a temporary file beside the database, which is flushed, synced and renamed over it
// only when everything was written. Only where the folder refuses new files while the file
// itself is writable is the file rewritten in place, and only once the space for the whole
// new content is reserved, so that a full disk fails the save before a byte changes.
#ifndef VARNELO_DATABASE_SAFE_SAVE_H_
#define VARNELO_DATABASE_SAFE_SAVE_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>

namespace safe_save {

// What a save may do to the file at its path.
enum class target_mode {
  replace,    // the database is replaced (a symbolic link's target, in place if need be)
  create_new  // a new file is made; a file that exists meanwhile is never replaced
};

class db_writer {
 public:
  db_writer();
  ~db_writer();  // a writer that was not committed leaves the database file as it was
  db_writer(const db_writer&) = delete;
  db_writer& operator=(const db_writer&) = delete;

  // Opens the database at path for writing exactly total_bytes. False, with errno telling
  // why, when it cannot be written; nothing was changed on disk then.
  bool open(const char* path, uint64_t total_bytes, target_mode mode = target_mode::replace);
  // Appends bytes; false once any write has failed.
  bool write(const void* bytes, size_t n);
  // Writes out what is buffered, flushes, syncs and puts the file in place. False, with
  // errno telling why, on any failure; the previous file then stays, unless the failure
  // came while it was being rewritten in place.
  bool commit();
  // Bytes that reached the file so far (the file position a plain write would report).
  uint64_t position() const { return written_; }
  // True when the file is rewritten in place rather than replaced.
  bool in_place() const { return in_place_; }

 private:
  bool make_temp(bool exists, unsigned mode_bits);
  bool open_in_place();
  bool reserve(int fd, bool required);
  bool drain();
  void abandon();

  std::string target_;  // the file being replaced (a symbolic link's target)
  std::string temp_;    // empty when writing in place
  target_mode mode_ = target_mode::replace;
  uint64_t total_ = 0;
  FILE* file_ = nullptr;
  std::unique_ptr<unsigned char[]> chunk_;
  size_t chunk_size_ = 0;
  size_t chunk_used_ = 0;
  uint64_t written_ = 0;
  bool in_place_ = false;
  bool failed_ = false;
};

// The file a save of path replaces: the target of a symbolic link (of a chain of them, also
// when the last one leads to no file yet), else path itself.
std::string resolve_target(const char* path);

// The folder part of path ("." when it has none) and the name after the last separator.
std::string folder_of(const std::string& path);
std::string base_of(const std::string& path);

// True when a save of path can be made: the file is a writable regular file, or there is
// none and its folder accepts new files. False, with errno telling why, otherwise.
bool can_save(const char* path);

// Moves the file at path aside to path.unreadable, path.unreadable.1, ... (taking the first
// name that is free, never replacing a file) and prints where it went. False when it could
// not be moved.
bool move_aside(const std::string& path);

}  // namespace safe_save

// A seam for tests: makes one step of the next saves fail, as a full disk or a failing
// device would, and tells how often each step ran during the last save.
namespace save_faults {

enum step { kNone, kCreateTemp, kReserve, kWrite, kFlush, kSync, kClose, kRename, kStepCount };

struct plan {
  step fail = kNone;
  int nth = 0;             // the 0-based call of that step within one save that fails; -1: all
  size_t chunk_bytes = 0;  // bytes per write call; 0 for the normal size
  int error = 0;           // the errno of the failure; 0 for the step's usual one
};

void set(const plan& p);
void reset();
// Number of times a step was reached during the last save.
int calls(step s);

}  // namespace save_faults

#endif  // VARNELO_DATABASE_SAFE_SAVE_H_
