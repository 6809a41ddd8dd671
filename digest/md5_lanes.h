// Multi-lane MD5: many independent messages digested side by side in the lanes of the
// vector unit, each giving exactly the digest of md5_init / md5_append / md5_finish.
// One MD5 stream is a serial chain of dependent steps; independent messages are not.
#ifndef VARNELO_DIGEST_MD5_LANES_H_
#define VARNELO_DIGEST_MD5_LANES_H_

#include <stddef.h>
#include <stdint.h>

// The code that advances the lanes. md5_lanes_auto picks the widest one the processor runs.
enum md5_lanes_path {
  md5_lanes_auto = 0,
  md5_lanes_scalar = 1,  // portable code, any processor
  md5_lanes_avx2 = 2,    // x86-64 with AVX2
  md5_lanes_avx512 = 3,  // x86-64 with AVX-512F
};

// Returns 1 if this build and this processor can run path, else 0 (md5_lanes_auto: always 1).
int md5_lanes_available(md5_lanes_path path);

// Returns the path md5_lanes_auto stands for: the widest available one.
md5_lanes_path md5_lanes_best();

// Returns the number of lanes path advances together (md5_lanes_auto: those of the best
// path), or 0 for a path that is not available.
int md5_lanes_width(md5_lanes_path path);

// The low-level step: compresses `blocks` consecutive 64-byte blocks of each lane's data
// into that lane's chaining words. chain holds 4 rows of width words (A of every lane,
// then B, C, D), width = md5_lanes_width(path). data[lane] points at the lane's blocks
// (any alignment), or is null for a lane that is left as it is. Returns 0 without doing
// anything when path is not available, else 1.
int md5_lanes_compress(md5_lanes_path path, uint32_t* chain, const uint8_t* const* data,
                       size_t blocks);

// Where the lane scheduler gets its messages and puts their digests. Every callback gets
// `context` and is called on the thread that runs md5_lanes_run, one call at a time.
struct md5_lanes_source {
  void* context;
  // Starts the next message: sets *message to the caller's tag for it and returns 1, or
  // returns 0 when there are no more messages.
  int (*next_message)(void* context, size_t* message);
  // Gives the next piece of a started message, the one that starts `offset` bytes into it
  // (the sum of the pieces given so far): sets *data and returns its length (more than 0),
  // returns 0 at the end of the message, or a negative number when the message cannot be
  // read (it is abandoned). The piece must stay readable until the next call for the same
  // message or until the message's digest is delivered.
  int64_t (*next_chunk)(void* context, size_t message, uint64_t offset, const uint8_t** data);
  // Receives the 16-byte digest of a message once it is complete, or a null digest when the
  // message was abandoned. Messages finish in any order.
  void (*digest_ready)(void* context, size_t message, const uint8_t* digest);
};

// Digests every message of source in the lanes of path (md5_lanes_auto: the best one):
// a lane that finishes its message takes the next one. Returns 1 when done, or 0 without
// starting when path is not available.
int md5_lanes_run(const md5_lanes_source* source, md5_lanes_path path);

// One message held in memory.
struct md5_lanes_message {
  const uint8_t* data;
  size_t size;
};

// Digests count messages held in memory: digests + 16 * i receives the digest of
// messages[i]. Returns md5_lanes_run's result.
int md5_lanes_digest(const md5_lanes_message* messages, size_t count, uint8_t* digests,
                     md5_lanes_path path);

#endif  // VARNELO_DIGEST_MD5_LANES_H_
