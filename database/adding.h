// Adding one file to the tables, shared by file_add and the folder walk.
#ifndef VARNELO_DATABASE_ADDING_H_
#define VARNELO_DATABASE_ADDING_H_

#include "database/audio_region.h"
#include "database/prehash.h"

namespace adding {

// file_add, taking the digest from ahead when a hasher computed it from the file exactly
// as it is now, else computing it here through buffer. ahead may be null.
int add_file(const char* path, prehash::pipeline* ahead, audio_region::read_buffer& buffer);

// The number of threads that hash during a walk, the calling thread included (>= 1).
int scan_hashers();

// How the workers of a walk digest files: prehash::kNoLanes or an available md5_lanes_path.
int scan_lanes();

}  // namespace adding

#endif  // VARNELO_DATABASE_ADDING_H_
