// Writing a database file so that a failed save never destroys the previous one: the bytes
// go to a temporary file beside the database, which is flushed, synced and renamed over it
// only when everything was written. Where no file can be made beside the database (a folder
// that is not writable while the file is), the file is rewritten in place.
#ifndef VARNELO_DATABASE_SAFE_SAVE_H_
#define VARNELO_DATABASE_SAFE_SAVE_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>

namespace safe_save {

class db_writer {
 public:
  db_writer();
  ~db_writer();  // a writer that was not committed leaves the database file as it was
  db_writer(const db_writer&) = delete;
  db_writer& operator=(const db_writer&) = delete;

  // Opens the database at path for writing. False when it cannot be written at all
  // (nothing was changed on disk then).
  bool open(const char* path);
  // Appends bytes; false once any write has failed.
  bool write(const void* bytes, size_t n);
  // Writes out what is buffered, flushes, syncs and puts the file in place. False on any
  // failure; the previous file then stays, unless the save had to be made in place.
  bool commit();
  // Bytes that reached the file so far (the file position a plain write would report).
  uint64_t position() const { return written_; }

 private:
  bool drain();
  void abandon();

  std::string target_;  // the file being replaced (a symbolic link's target)
  std::string temp_;    // empty when writing in place
  FILE* file_ = nullptr;
  std::unique_ptr<unsigned char[]> chunk_;
  size_t chunk_size_ = 0;
  size_t chunk_used_ = 0;
  uint64_t written_ = 0;
  bool failed_ = false;
};

// The file a save of path replaces: the target of a symbolic link, else path itself.
std::string resolve_target(const char* path);

// Moves the file at path aside to path.unreadable, path.unreadable.1, ... (taking the first
// name that is free, never replacing a file) and prints where it went. False when it could
// not be moved.
bool move_aside(const std::string& path);

}  // namespace safe_save

// A seam for tests: makes one step of the next saves fail, as a full disk or a failing
// device would, and tells how often each step ran during the last save.
namespace save_faults {

enum step { kNone, kCreateTemp, kWrite, kFlush, kSync, kClose, kRename, kStepCount };

struct plan {
  step fail = kNone;
  int nth = 0;             // the 0-based call of that step within one save that fails
  size_t chunk_bytes = 0;  // bytes per write call; 0 for the normal size
};

void set(const plan& p);
void reset();
// Number of times a step was reached during the last save.
int calls(step s);

}  // namespace save_faults

#endif  // VARNELO_DATABASE_SAFE_SAVE_H_
