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
  static MD5_LANES_INLINE V constant(uint32_t c) { return c; }
  template <int S>
  static MD5_LANES_INLINE V rotl(V x) { return (x << S) | (x >> (32 - S)); }
  template <int R>
  static MD5_LANES_INLINE V round(V x, V y, V z) { return md5_lanes_rounds::round_f(R, x, y, z); }
};

void compress_scalar(uint32_t* chain, const uint8_t* const* data, size_t blocks) {
  for (int l = 0; l < kScalarWidth; ++l) {
    const uint8_t* p = data[l];
    if (!p) continue;
    uint32_t v[4] = {chain[l], chain[kScalarWidth + l], chain[2 * kScalarWidth + l],
                     chain[3 * kScalarWidth + l]};
    for (size_t b = 0; b < blocks; ++b, p += 64) {
      // Words are assembled byte by byte: any byte order, any alignment.
      uint32_t x[16];
      for (int j = 0; j < 16; ++j) {
        x[j] = static_cast<uint32_t>(p[4 * j]) | static_cast<uint32_t>(p[4 * j + 1]) << 8 |
               static_cast<uint32_t>(p[4 * j + 2]) << 16 |
               static_cast<uint32_t>(p[4 * j + 3]) << 24;
      }
      md5_lanes_rounds::compress<ops32>(v, x);
    }
    for (int k = 0; k < 4; ++k) chain[k * kScalarWidth + l] = v[k];
  }
}

}  // namespace

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
