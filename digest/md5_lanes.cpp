// Choosing the code that advances the lanes, and the portable code for any processor.
#include "digest/md5_lanes.h"

#include "digest/md5_lanes_kernels.h"
#include "digest/md5_lanes_rounds.h"

namespace {

// The portable path digests its lanes one after another; its width only sets how many
// messages the scheduler keeps open at once.
constexpr int kScalarWidth = 4;

struct ops32 {
  using V = uint32_t;
  static MD5_LANES_INLINE V add(V a, V b) { return a + b; }
  static MD5_LANES_INLINE void settle(V&) {}  // scalar additions take one cycle
  template <int I>
  static MD5_LANES_INLINE V constant() { return md5_lanes_rounds::kT[I]; }
  template <int S>
  static MD5_LANES_INLINE V rotl(V x) { return (x << S) | (x >> (32 - S)); }
  template <int R>
  static MD5_LANES_INLINE V round(V x, V y, V z) { return md5_lanes_rounds::round_f(R, x, y, z); }
};

void compress_scalar(uint32_t* chain, const uint8_t* const* data, size_t blocks) {
  for (int l = 0; l < kScalarWidth; ++l) {
    const uint8_t* p = data[l];
    if (!p) continue;
    uint32_t v[1][4] = {{chain[l], chain[kScalarWidth + l], chain[2 * kScalarWidth + l],
                        chain[3 * kScalarWidth + l]}};
    for (size_t b = 0; b < blocks; ++b, p += 64) {
      // Words are assembled byte by byte: any byte order, any alignment.
      uint32_t x[1][16];
      for (int j = 0; j < 16; ++j) {
        x[0][j] = static_cast<uint32_t>(p[4 * j]) | static_cast<uint32_t>(p[4 * j + 1]) << 8 |
               static_cast<uint32_t>(p[4 * j + 2]) << 16 |
               static_cast<uint32_t>(p[4 * j + 3]) << 24;
      }
      md5_lanes_rounds::compress<ops32, 1>(v, x);
    }
    for (int k = 0; k < 4; ++k) chain[k * kScalarWidth + l] = v[0][k];
  }
}

}  // namespace

#if defined(MD5_LANES_X86)
const uint32_t md5_lanes_step_constants[64] = {
#define T(i) md5_lanes_rounds::kT[i]
    T(0),  T(1),  T(2),  T(3),  T(4),  T(5),  T(6),  T(7),  T(8),  T(9),  T(10), T(11), T(12),
    T(13), T(14), T(15), T(16), T(17), T(18), T(19), T(20), T(21), T(22), T(23), T(24), T(25),
    T(26), T(27), T(28), T(29), T(30), T(31), T(32), T(33), T(34), T(35), T(36), T(37), T(38),
    T(39), T(40), T(41), T(42), T(43), T(44), T(45), T(46), T(47), T(48), T(49), T(50), T(51),
    T(52), T(53), T(54), T(55), T(56), T(57), T(58), T(59), T(60), T(61), T(62), T(63)};
#undef T
#endif

int md5_lanes_available(md5_lanes_path path) {
  switch (path) {
    case md5_lanes_auto:
    case md5_lanes_scalar:
      return 1;
#if defined(MD5_LANES_X86) && defined(__GNUC__)
    case md5_lanes_avx2:
      return __builtin_cpu_supports("avx2") ? 1 : 0;
    case md5_lanes_avx512:
      return __builtin_cpu_supports("avx512f") ? 1 : 0;
#endif
    default:
      return 0;
  }
}

md5_lanes_path md5_lanes_best() {
  if (md5_lanes_available(md5_lanes_avx512)) return md5_lanes_avx512;
  if (md5_lanes_available(md5_lanes_avx2)) return md5_lanes_avx2;
  return md5_lanes_scalar;
}

int md5_lanes_width(md5_lanes_path path) {
  if (path == md5_lanes_auto) path = md5_lanes_best();
  if (!md5_lanes_available(path)) return 0;
  switch (path) {
#if defined(MD5_LANES_X86)
    case md5_lanes_avx2:
      return kMd5LanesAvx2Width;
    case md5_lanes_avx512:
      return kMd5LanesAvx512Width;
#endif
    default:
      return kScalarWidth;
  }
}

int md5_lanes_compress(md5_lanes_path path, uint32_t* chain, const uint8_t* const* data,
                       size_t blocks) {
  if (path == md5_lanes_auto) path = md5_lanes_best();
  if (!md5_lanes_available(path)) return 0;
  switch (path) {
#if defined(MD5_LANES_X86)
    case md5_lanes_avx2:
      md5_lanes_compress_avx2(chain, data, blocks);
      break;
    case md5_lanes_avx512:
      md5_lanes_compress_avx512(chain, data, blocks);
      break;
#endif
    default:
      compress_scalar(chain, data, blocks);
      break;
  }
  return 1;
}
