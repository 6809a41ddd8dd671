// MD5 (RFC 1321): 64-byte blocks, four rounds of sixteen steps, little-endian words.
#include "digest/md5.h"

#include <string.h>

namespace {

// The padding: a single 1 bit, then zeros.
const uint8_t kPadding[64] = {0x80};

// T[i] = floor(abs(sin(i + 1)) * 2^32), RFC 1321 section 3.4.
const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

#define MD5_STEP(f, a, b, c, d, x, s, t) a = b + rotl(a + f(b, c, d) + (x) + (t), s)
#define MD5_F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define MD5_G(x, y, z) (((x) & (z)) | ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

// Compresses one 64-byte block into the chain. The words are assembled byte by byte,
// so neither the host's byte order nor the block's alignment matters.
void md5_process(md5_state* state, const uint8_t* block) {
  uint32_t x[16];
  for (int j = 0; j < 16; ++j) {
    x[j] = static_cast<uint32_t>(block[4 * j]) | static_cast<uint32_t>(block[4 * j + 1]) << 8 |
           static_cast<uint32_t>(block[4 * j + 2]) << 16 |
           static_cast<uint32_t>(block[4 * j + 3]) << 24;
  }
  uint32_t a = state->chain[0], b = state->chain[1], c = state->chain[2], d = state->chain[3];

  // Round 1: message words in order, shifts 7 12 17 22.
  for (int i = 0; i < 16; i += 4) {
    MD5_STEP(MD5_F, a, b, c, d, x[i], 7, kT[i]);
    MD5_STEP(MD5_F, d, a, b, c, x[i + 1], 12, kT[i + 1]);
    MD5_STEP(MD5_F, c, d, a, b, x[i + 2], 17, kT[i + 2]);
    MD5_STEP(MD5_F, b, c, d, a, x[i + 3], 22, kT[i + 3]);
  }
  // Round 2: word (1 + 5i) mod 16, shifts 5 9 14 20.
  for (int i = 16; i < 32; i += 4) {
    MD5_STEP(MD5_G, a, b, c, d, x[(5 * i + 1) & 15], 5, kT[i]);
    MD5_STEP(MD5_G, d, a, b, c, x[(5 * i + 6) & 15], 9, kT[i + 1]);
    MD5_STEP(MD5_G, c, d, a, b, x[(5 * i + 11) & 15], 14, kT[i + 2]);
    MD5_STEP(MD5_G, b, c, d, a, x[(5 * i + 16) & 15], 20, kT[i + 3]);
  }
  // Round 3: word (5 + 3i) mod 16, shifts 4 11 16 23.
  for (int i = 32; i < 48; i += 4) {
    MD5_STEP(MD5_H, a, b, c, d, x[(3 * i + 5) & 15], 4, kT[i]);
    MD5_STEP(MD5_H, d, a, b, c, x[(3 * i + 8) & 15], 11, kT[i + 1]);
    MD5_STEP(MD5_H, c, d, a, b, x[(3 * i + 11) & 15], 16, kT[i + 2]);
    MD5_STEP(MD5_H, b, c, d, a, x[(3 * i + 14) & 15], 23, kT[i + 3]);
  }
  // Round 4: word 7i mod 16, shifts 6 10 15 21.
  for (int i = 48; i < 64; i += 4) {
    MD5_STEP(MD5_I, a, b, c, d, x[(7 * i) & 15], 6, kT[i]);
    MD5_STEP(MD5_I, d, a, b, c, x[(7 * i + 7) & 15], 10, kT[i + 1]);
    MD5_STEP(MD5_I, c, d, a, b, x[(7 * i + 14) & 15], 15, kT[i + 2]);
    MD5_STEP(MD5_I, b, c, d, a, x[(7 * i + 21) & 15], 21, kT[i + 3]);
  }

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
