// Adding one file to the tables, shared by file_add and the folder walk.
#ifndef VARNELO_DATABASE_ADDING_H_
#define VARNELO_DATABASE_ADDING_H_

#include <stdint.h>

#include <optional>

#include "database/audio_region.h"
#include "database/prehash.h"
#include "database/walk_stop.h"
#include "digest/md5_lanes.h"

namespace adding {

// Where a walk met the file: its folder, open, and its name there. Opening it by these
// needs no path, so depth does not matter. order: how many ".mp3" files that are no
// folders the walk met before it (-1 when not told), as the pipeline numbers them.
struct file_place {
  int folder;
  const char* name;
  int64_t order = -1;
};

enum class result {
  added,
  passed_over,  // already listed, or no audio bytes: left out by the rules
  unreadable,   // could not be opened or read whole (error tells why)
  stopped,      // a stop was requested before it could be added
};
struct add_outcome {
  result what = result::passed_over;
  int error = 0;           // errno value for unreadable
  int64_t bytes_read = 0;  // the file's size, when it was read for its digest
};

// file_add, opening the file at place when given (else by path, of any length) and taking
// the digest from ahead when a hasher computed it from the file exactly as it is now, else
// computing it here through buffer. ahead, place and stop may be null. Once stop is
// requested nothing is added.
add_outcome add_file(const char* path, const file_place* place, prehash::pipeline* ahead,
                     audio_region::read_buffer& buffer, const walk_stop::flag* stop);

// The number of threads that hash during a walk, the calling thread included (>= 1).
int scan_hashers();

// How the workers of a walk digest files: none for one file at a time, or an available
// md5_lanes_path.
std::optional<md5_lanes_path> scan_lanes();

}  // namespace adding

#endif  // VARNELO_DATABASE_ADDING_H_
