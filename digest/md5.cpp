// MD5 (RFC 1321): 64-byte blocks, four rounds of sixteen steps, little-endian words.
#include "digest/md5.h"

#include <string.h>

namespace {

// The padding: a single 1 bit, then zeros.
const uint8_t kPadding[64] = {0x80};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Message word j of a block, least significant byte first. Put together byte by byte so
// that neither the host's byte order nor the block's alignment matters; compilers turn
// this into a single load on little-endian hosts.
inline uint32_t word(const uint8_t* block, int j) {
  const uint8_t* p = block + 4 * j;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The four kinds of step of RFC 1321 section 3.4: a = b + ((a + fun(b, c, d) + x + t) <<< s).
// b is the value the previous step has just produced, so each step adds the terms that do
// not depend on it first; the terms with b come last and the chain of dependent steps is
// as short as the function allows. F and G are written in equivalent forms with fewer
// operations after b: F = d ^ (b & (c ^ d)); G's two terms share no bits, so | is +.
inline void step_f(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s,
                   uint32_t t) {
  a += x + t;
  a += d ^ (b & (c ^ d));
  a = b + rotl(a, s);
}

inline void step_g(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s,
                   uint32_t t) {
  a += x + t;
  a += c & ~d;
  a += b & d;
  a = b + rotl(a, s);
}

inline void step_h(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s,
                   uint32_t t) {
  a += x + t;
  a += b ^ (c ^ d);
  a = b + rotl(a, s);
}

inline void step_i(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s,
                   uint32_t t) {
  a += x + t;
  a += c ^ (b | ~d);
  a = b + rotl(a, s);
}

// Compresses one 64-byte block into the chain: the 64 steps of RFC 1321 written out, with
// the constants T[i] = floor(abs(sin(i + 1)) * 2^32) of section 3.4 in place.
void md5_process(md5_state* state, const uint8_t* block) {
  uint32_t a = state->chain[0], b = state->chain[1], c = state->chain[2], d = state->chain[3];

  // Round 1: F, message words in order.
  step_f(a, b, c, d, word(block, 0), 7, 0xd76aa478);
  step_f(d, a, b, c, word(block, 1), 12, 0xe8c7b756);
  step_f(c, d, a, b, word(block, 2), 17, 0x242070db);
  step_f(b, c, d, a, word(block, 3), 22, 0xc1bdceee);
  step_f(a, b, c, d, word(block, 4), 7, 0xf57c0faf);
  step_f(d, a, b, c, word(block, 5), 12, 0x4787c62a);
  step_f(c, d, a, b, word(block, 6), 17, 0xa8304613);
  step_f(b, c, d, a, word(block, 7), 22, 0xfd469501);
  step_f(a, b, c, d, word(block, 8), 7, 0x698098d8);
  step_f(d, a, b, c, word(block, 9), 12, 0x8b44f7af);
  step_f(c, d, a, b, word(block, 10), 17, 0xffff5bb1);
  step_f(b, c, d, a, word(block, 11), 22, 0x895cd7be);
  step_f(a, b, c, d, word(block, 12), 7, 0x6b901122);
  step_f(d, a, b, c, word(block, 13), 12, 0xfd987193);
  step_f(c, d, a, b, word(block, 14), 17, 0xa679438e);
  step_f(b, c, d, a, word(block, 15), 22, 0x49b40821);
  // Round 2: G, word (1 + 5k) mod 16 in step k.
  step_g(a, b, c, d, word(block, 1), 5, 0xf61e2562);
  step_g(d, a, b, c, word(block, 6), 9, 0xc040b340);
  step_g(c, d, a, b, word(block, 11), 14, 0x265e5a51);
  step_g(b, c, d, a, word(block, 0), 20, 0xe9b6c7aa);
  step_g(a, b, c, d, word(block, 5), 5, 0xd62f105d);
  step_g(d, a, b, c, word(block, 10), 9, 0x02441453);
  step_g(c, d, a, b, word(block, 15), 14, 0xd8a1e681);
  step_g(b, c, d, a, word(block, 4), 20, 0xe7d3fbc8);
  step_g(a, b, c, d, word(block, 9), 5, 0x21e1cde6);
  step_g(d, a, b, c, word(block, 14), 9, 0xc33707d6);
  step_g(c, d, a, b, word(block, 3), 14, 0xf4d50d87);
  step_g(b, c, d, a, word(block, 8), 20, 0x455a14ed);
  step_g(a, b, c, d, word(block, 13), 5, 0xa9e3e905);
  step_g(d, a, b, c, word(block, 2), 9, 0xfcefa3f8);
  step_g(c, d, a, b, word(block, 7), 14, 0x676f02d9);
  step_g(b, c, d, a, word(block, 12), 20, 0x8d2a4c8a);
  // Round 3: H, word (5 + 3k) mod 16 in step k.
  step_h(a, b, c, d, word(block, 5), 4, 0xfffa3942);
  step_h(d, a, b, c, word(block, 8), 11, 0x8771f681);
  step_h(c, d, a, b, word(block, 11), 16, 0x6d9d6122);
  step_h(b, c, d, a, word(block, 14), 23, 0xfde5380c);
  step_h(a, b, c, d, word(block, 1), 4, 0xa4beea44);
  step_h(d, a, b, c, word(block, 4), 11, 0x4bdecfa9);
  step_h(c, d, a, b, word(block, 7), 16, 0xf6bb4b60);
  step_h(b, c, d, a, word(block, 10), 23, 0xbebfbc70);
  step_h(a, b, c, d, word(block, 13), 4, 0x289b7ec6);
  step_h(d, a, b, c, word(block, 0), 11, 0xeaa127fa);
  step_h(c, d, a, b, word(block, 3), 16, 0xd4ef3085);
  step_h(b, c, d, a, word(block, 6), 23, 0x04881d05);
  step_h(a, b, c, d, word(block, 9), 4, 0xd9d4d039);
  step_h(d, a, b, c, word(block, 12), 11, 0xe6db99e5);
  step_h(c, d, a, b, word(block, 15), 16, 0x1fa27cf8);
  step_h(b, c, d, a, word(block, 2), 23, 0xc4ac5665);
  // Round 4: I, word 7k mod 16 in step k.
  step_i(a, b, c, d, word(block, 0), 6, 0xf4292244);
  step_i(d, a, b, c, word(block, 7), 10, 0x432aff97);
  step_i(c, d, a, b, word(block, 14), 15, 0xab9423a7);
  step_i(b, c, d, a, word(block, 5), 21, 0xfc93a039);
  step_i(a, b, c, d, word(block, 12), 6, 0x655b59c3);
  step_i(d, a, b, c, word(block, 3), 10, 0x8f0ccc92);
  step_i(c, d, a, b, word(block, 10), 15, 0xffeff47d);
  step_i(b, c, d, a, word(block, 1), 21, 0x85845dd1);
  step_i(a, b, c, d, word(block, 8), 6, 0x6fa87e4f);
  step_i(d, a, b, c, word(block, 15), 10, 0xfe2ce6e0);
  step_i(c, d, a, b, word(block, 6), 15, 0xa3014314);
  step_i(b, c, d, a, word(block, 13), 21, 0x4e0811a1);
  step_i(a, b, c, d, word(block, 4), 6, 0xf7537e82);
  step_i(d, a, b, c, word(block, 11), 10, 0xbd3af235);
  step_i(c, d, a, b, word(block, 2), 15, 0x2ad7d2bb);
  step_i(b, c, d, a, word(block, 9), 21, 0xeb86d391);

  state->chain[0] += a;
  state->chain[1] += b;
  state->chain[2] += c;
  state->chain[3] += d;
}

}  // namespace

void md5_init(md5_state* state) {
  state->bitcount[0] = 0;
  state->bitcount[1] = 0;
  state->chain[0] = 0x67452301;
  state->chain[1] = 0xefcdab89;
  state->chain[2] = 0x98badcfe;
  state->chain[3] = 0x10325476;
}

void md5_append(md5_state* state, const uint8_t* data, int32_t nbytes) {
  if (nbytes <= 0) return;
  const uint8_t* p = data;
  uint32_t left = static_cast<uint32_t>(nbytes);
  uint32_t offset = (state->bitcount[0] >> 3) & 63;
  uint32_t added = left << 3;

  state->bitcount[1] += left >> 29;
  state->bitcount[0] += added;
  if (state->bitcount[0] < added) state->bitcount[1] += 1;

  if (offset != 0) {
    uint32_t copy = offset + left > 64 ? 64 - offset : left;
    memcpy(state->buffer + offset, p, copy);
    if (offset + copy < 64) return;
    p += copy;
    left -= copy;
    md5_process(state, state->buffer);
  }
  for (; left >= 64; p += 64, left -= 64) md5_process(state, p);
  if (left != 0) memcpy(state->buffer, p, left);
}

void md5_finish(md5_state* state, uint8_t digest[16]) {
  uint8_t length[8];
  for (int i = 0; i < 8; ++i)
    length[i] = static_cast<uint8_t>(state->bitcount[i >> 2] >> ((i & 3) * 8));
  md5_append(state, kPadding, static_cast<int32_t>(((55 - (state->bitcount[0] >> 3)) & 63) + 1));
  md5_append(state, length, 8);
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<uint8_t>(state->chain[i >> 2] >> ((i & 3) * 8));
}
