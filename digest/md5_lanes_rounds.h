// The 64 steps of MD5 written once over a vector type: each file that compiles them for an
// instruction set (portable, AVX2, AVX-512) supplies the few operations they need.
//
// Everything here has internal linkage on purpose: each including file is compiled with its
// own instruction-set flags, and a shared inline copy picked by the linker could carry
// AVX-512 instructions into code that runs on any processor.
#ifndef VARNELO_DIGEST_MD5_LANES_ROUNDS_H_
#define VARNELO_DIGEST_MD5_LANES_ROUNDS_H_

#include <stdint.h>

#include <utility>

#if defined(__GNUC__)
#define MD5_LANES_INLINE inline __attribute__((always_inline))
#else
#define MD5_LANES_INLINE inline
#endif

// The loops over lanes and words must become straight code so the vectors stay in registers.
#if defined(__clang__)
#define MD5_LANES_UNROLL _Pragma("clang loop unroll(full)")
#elif defined(__GNUC__)
#define MD5_LANES_UNROLL _Pragma("GCC unroll 16")
#else
#define MD5_LANES_UNROLL
#endif

namespace {
namespace md5_lanes_rounds {

// T[i] = floor(abs(sin(i + 1)) * 2^32), RFC 1321 section 3.4.
constexpr uint32_t kT[64] = {
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

// Rotation of step i: four amounts per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Message word of step i: in order, then 1 + 5i, 5 + 3i and 7i, all mod 16.
constexpr int word_of(int i) {
  return i < 16 ? i : i < 32 ? (5 * i + 1) & 15 : i < 48 ? (3 * i + 5) & 15 : (7 * i) & 15;
}

// The four round functions over plain words, in the RFC's form. The vector operations use
// them to derive ternary-logic tables, and the portable code uses them directly.
constexpr uint32_t round_f(int round, uint32_t x, uint32_t y, uint32_t z) {
  return round == 0   ? (x & y) | (~x & z)
         : round == 1 ? (x & z) | (y & ~z)
         : round == 2 ? x ^ y ^ z
                      : y ^ (x | ~z);
}

// Step i on the working words s (A, B, C, D of every lane) of G independent groups of
// lanes, interleaved so that one group's additions fill the wait on another's. The word a
// step updates moves one place left each step, so the four words never need shuffling.
template <class Ops, int G, int I>
MD5_LANES_INLINE void step(typename Ops::V (*s)[4], const typename Ops::V (*x)[16]) {
  using V = typename Ops::V;
  constexpr int a = (4 - I % 4) % 4, b = (a + 1) % 4, c = (a + 2) % 4, d = (a + 3) % 4;
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    // The message word, the constant and A are summed before the round function is known,
    // so that only one addition waits on it: a compiler left free regroups the additions
    // and puts two on the chain from step to step, where vector additions take two cycles
    // each on some processors.
    V sum = Ops::add(Ops::add(x[g][word_of(I)], Ops::template constant<I>()), s[g][a]);
    Ops::settle(sum);
    sum = Ops::add(sum, Ops::template round<I / 16>(s[g][b], s[g][c], s[g][d]));
    s[g][a] = Ops::add(s[g][b], Ops::template rotl<kShift[I / 16][I % 4]>(sum));
  }
}

template <class Ops, int G, int... I>
MD5_LANES_INLINE void all_steps(typename Ops::V (*s)[4], const typename Ops::V (*x)[16],
                                std::integer_sequence<int, I...>) {
  (step<Ops, G, I>(s, x), ...);
}

// Compresses one block in each of G groups: x[g] holds the 16 message words, chain[g] the
// chaining words A, B, C, D.
template <class Ops, int G>
MD5_LANES_INLINE void compress(typename Ops::V (*chain)[4], const typename Ops::V (*x)[16]) {
  typename Ops::V s[G][4];
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) s[g][k] = chain[g][k];
  }
  all_steps<Ops, G>(s, x, std::make_integer_sequence<int, 64>());
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) chain[g][k] = Ops::add(chain[g][k], s[g][k]);
  }
}

}  // namespace md5_lanes_rounds
}  // namespace

#endif  // VARNELO_DIGEST_MD5_LANES_ROUNDS_H_
