// Sixteen MD5 lanes in the 32-bit words of AVX-512 registers: one rotate instruction per
// rotation and one ternary-logic instruction per round function.
#include "digest/md5_lanes_kernels.h"

#if defined(MD5_LANES_X86)
// GCC 12 takes the deliberately undefined source operand of its AVX-512 intrinsics for an
// uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "digest/md5_lanes_rounds.h"

namespace {

using md5_lanes_rounds::round_f;

struct ops512 {
  using V = __m512i;
  static MD5_LANES_INLINE V add(V a, V b) { return _mm512_add_epi32(a, b); }
  // Takes v as it is, out of the compiler's regrouping of additions.
  static MD5_LANES_INLINE void settle(V& v) { asm("" : "+v"(v)); }
  // Read from memory, so that the addition takes it broadcast from there.
  template <int I>
  static MD5_LANES_INLINE V constant() {
    return _mm512_set1_epi32(static_cast<int>(md5_lanes_step_constants[I]));
  }
  template <int S>
  static MD5_LANES_INLINE V rotl(V x) { return _mm512_rol_epi32(x, S); }
  // The truth table of the round function, read off the three canonical input patterns.
  template <int R>
  static MD5_LANES_INLINE V round(V x, V y, V z) {
    constexpr int table = round_f(R, 0xf0, 0xcc, 0xaa) & 0xff;
    return _mm512_ternarylogic_epi32(x, y, z, table);
  }
};

// Turns 16 rows (one lane's block each) into 16 columns (one message word of every lane).
MD5_LANES_INLINE void transpose(const __m512i* r, __m512i* x) {
  __m512i t[16], u[16];
  MD5_LANES_UNROLL
  for (int k = 0; k < 16; k += 2) {
    t[k] = _mm512_unpacklo_epi32(r[k], r[k + 1]);
    t[k + 1] = _mm512_unpackhi_epi32(r[k], r[k + 1]);
  }
  // u[4g + j]: 128-bit chunk q holds word 4q + j of lanes 4g .. 4g + 3.
  MD5_LANES_UNROLL
  for (int g = 0; g < 4; ++g) {
    u[4 * g + 0] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
    u[4 * g + 3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
  }
  // What is left is a 4 x 4 transpose of 128-bit chunks for each j.
  MD5_LANES_UNROLL
  for (int j = 0; j < 4; ++j) {
    __m512i s0 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0x44);
    __m512i s1 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0xee);
    __m512i s2 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0x44);
    __m512i s3 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0xee);
    x[0 + j] = _mm512_shuffle_i32x4(s0, s2, 0x88);
    x[4 + j] = _mm512_shuffle_i32x4(s0, s2, 0xdd);
    x[8 + j] = _mm512_shuffle_i32x4(s1, s3, 0x88);
    x[12 + j] = _mm512_shuffle_i32x4(s1, s3, 0xdd);
  }
}

alignas(64) const uint8_t kIdleBlock[64] = {};

}  // namespace

void md5_lanes_compress_avx512(uint32_t* chain, const uint8_t* const* data, size_t blocks) {
  constexpr int G = kMd5LanesAvx512Groups, W = 16 * G;
  // Idle lanes read a block of zeros in place and keep their chain.
  const uint8_t* p[W];
  size_t stride[W];
  __mmask16 active[G] = {};
  for (int l = 0; l < W; ++l) {
    p[l] = data[l] ? data[l] : kIdleBlock;
    stride[l] = data[l] ? 64 : 0;
    if (data[l]) active[l / 16] = static_cast<__mmask16>(active[l / 16] | (1u << (l % 16)));
  }
  __m512i v[G][4];
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) v[g][k] = _mm512_loadu_si512(chain + k * W + 16 * g);
  }
  for (size_t b = 0; b < blocks; ++b) {
    __m512i x[G][16];
    MD5_LANES_UNROLL
    for (int g = 0; g < G; ++g) {
      __m512i r[16];
      MD5_LANES_UNROLL
      for (int l = 0; l < 16; ++l) {
        r[l] = _mm512_loadu_si512(p[16 * g + l]);
        p[16 * g + l] += stride[16 * g + l];
      }
      transpose(r, x[g]);
    }
    md5_lanes_rounds::compress<ops512, G>(v, x);
  }
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) _mm512_mask_storeu_epi32(chain + k * W + 16 * g, active[g], v[g][k]);
  }
}
#endif
