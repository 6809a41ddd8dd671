// Content digests of many files at once: the audio regions of several files digested side
// by side in the lanes of the multi-lane MD5, each giving exactly md5_hashfile_fast's answer
// for the file as it was when opened.
#ifndef VARNELO_DATABASE_LANE_HASHING_H_
#define VARNELO_DATABASE_LANE_HASHING_H_

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include <memory>

#include "digest/md5_lanes.h"

// One file to digest.
struct lane_hash_job {
  const char* path;         // in: the file
  int ok;                   // out: 1 when digest holds the content digest, 0 when the file
                            // could not be digested (md5_hashfile_fast would give null)
  unsigned char digest[16];
  struct stat seen;         // out (when ok): the file's state when it was opened, so a later
                            // user can tell whether the digest still fits the file
};

// Digests batches of files in lanes, keeping its read buffers from batch to batch (one
// buffer per lane; allocating them per file costs more than reading a small file).
class lane_hasher {
 public:
  explicit lane_hasher(md5_lanes_path path = md5_lanes_auto);
  ~lane_hasher();
  lane_hasher(const lane_hasher&) = delete;
  lane_hasher& operator=(const lane_hasher&) = delete;

  // Fills in every job. Returns false when the buffers could not be had (every ok is then
  // 0); a file that cannot be read only fails its own job.
  bool hash(lane_hash_job* jobs, size_t count);

 private:
  struct state;
  std::unique_ptr<state> state_;
};

#endif  // VARNELO_DATABASE_LANE_HASHING_H_
