// Eight MD5 lanes in the 32-bit words of AVX2 registers.
#include "digest/md5_lanes_kernels.h"

#if defined(MD5_LANES_X86)
#include <immintrin.h>

#include "digest/md5_lanes_rounds.h"

namespace {

struct ops256 {
  using V = __m256i;
  static MD5_LANES_INLINE V add(V a, V b) { return _mm256_add_epi32(a, b); }
  // Takes v as it is, out of the compiler's regrouping of additions.
  static MD5_LANES_INLINE void settle(V& v) { asm("" : "+x"(v)); }
  // Read from memory, so that the addition takes it broadcast from there.
  template <int I>
  static MD5_LANES_INLINE V constant() {
    return _mm256_set1_epi32(static_cast<int>(md5_lanes_step_constants[I]));
  }
  template <int S>
  static MD5_LANES_INLINE V rotl(V x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, S), _mm256_srli_epi32(x, 32 - S));
  }
  // The round functions in forms with the fewest instructions and the newest word last.
  template <int R>
  static MD5_LANES_INLINE V round(V x, V y, V z) {
    if constexpr (R == 0) {
      return _mm256_xor_si256(z, _mm256_and_si256(x, _mm256_xor_si256(y, z)));
    } else if constexpr (R == 1) {
      return _mm256_xor_si256(y, _mm256_and_si256(z, _mm256_xor_si256(x, y)));
    } else if constexpr (R == 2) {
      return _mm256_xor_si256(_mm256_xor_si256(y, z), x);
    } else {
      return _mm256_xor_si256(y, _mm256_or_si256(x, _mm256_xor_si256(z, _mm256_set1_epi32(-1))));
    }
  }
};

// Turns 8 rows of 8 words (one lane's half block each) into 8 columns (one word of every
// lane).
MD5_LANES_INLINE void transpose(const __m256i* r, __m256i* x) {
  __m256i t[8], u[8];
  MD5_LANES_UNROLL
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_epi32(r[k], r[k + 1]);
    t[k + 1] = _mm256_unpackhi_epi32(r[k], r[k + 1]);
  }
  // u[4g + j]: 128-bit half q holds word 4q + j of lanes 4g .. 4g + 3.
  MD5_LANES_UNROLL
  for (int g = 0; g < 2; ++g) {
    u[4 * g + 0] = _mm256_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 1] = _mm256_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 2] = _mm256_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
    u[4 * g + 3] = _mm256_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
  }
  MD5_LANES_UNROLL
  for (int j = 0; j < 4; ++j) {
    x[j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x20);
    x[4 + j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x31);
  }
}

alignas(64) const uint8_t kIdleBlock[64] = {};

}  // namespace

void md5_lanes_compress_avx2(uint32_t* chain, const uint8_t* const* data, size_t blocks) {
  constexpr int G = kMd5LanesAvx2Groups, W = 8 * G;
  // Idle lanes read a block of zeros in place and keep their chain.
  const uint8_t* p[W];
  size_t stride[W];
  alignas(32) int32_t active[W];
  for (int l = 0; l < W; ++l) {
    p[l] = data[l] ? data[l] : kIdleBlock;
    stride[l] = data[l] ? 64 : 0;
    active[l] = data[l] ? -1 : 0;
  }
  __m256i v[G][4];
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) {
      v[g][k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chain + k * W + 8 * g));
    }
  }
  for (size_t b = 0; b < blocks; ++b) {
    __m256i x[G][16];
    MD5_LANES_UNROLL
    for (int g = 0; g < G; ++g) {
      MD5_LANES_UNROLL
      for (int half = 0; half < 2; ++half) {
        __m256i r[8];
        MD5_LANES_UNROLL
        for (int l = 0; l < 8; ++l) {
          r[l] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[8 * g + l] + 32 * half));
        }
        transpose(r, x[g] + 8 * half);
      }
    }
    MD5_LANES_UNROLL
    for (int l = 0; l < W; ++l) p[l] += stride[l];
    md5_lanes_rounds::compress<ops256, G>(v, x);
  }
  MD5_LANES_UNROLL
  for (int g = 0; g < G; ++g) {
    __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(active + 8 * g));
    MD5_LANES_UNROLL
    for (int k = 0; k < 4; ++k) {
      _mm256_maskstore_epi32(reinterpret_cast<int*>(chain + k * W + 8 * g), mask, v[g][k]);
    }
  }
}
#endif
