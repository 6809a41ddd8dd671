// The MD5 message digest of RFC 1321 behind an incremental interface:
// md5_init, then md5_append any number of times, then md5_finish.
#ifndef VARNELO_DIGEST_MD5_H_
#define VARNELO_DIGEST_MD5_H_

#include <stdint.h>

// The state of one digest computation; owned by the caller, never allocated here.
// bitcount: message length in bits modulo 2^64, low word first.
// chain: the chaining words A, B, C, D.  buffer: the bytes of the incomplete block.
struct md5_state {
  uint32_t bitcount[2];
  uint32_t chain[4];
  uint8_t buffer[64];
};

// Starts a new message.
void md5_init(md5_state* state);

// Appends nbytes bytes of data; a count of 0 or less changes nothing.
void md5_append(md5_state* state, const uint8_t* data, int32_t nbytes);

// Completes the message and writes the 16-byte digest (A, B, C, D, each little-endian).
// The state must be initialised again before it is used for another message.
void md5_finish(md5_state* state, uint8_t digest[16]);

#endif  // VARNELO_DIGEST_MD5_H_
