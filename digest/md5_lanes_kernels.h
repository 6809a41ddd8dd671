// The vector kernels behind md5_lanes_compress, one per instruction set. Each is compiled
// with its own flags and may only be called once the processor is known to support them.
#ifndef VARNELO_DIGEST_MD5_LANES_KERNELS_H_
#define VARNELO_DIGEST_MD5_LANES_KERNELS_H_

#include <stddef.h>
#include <stdint.h>

#if defined(__x86_64__)
#define MD5_LANES_X86 1

// RFC 1321's T[i], opaque to the kernels so that they add it from memory.
extern const uint32_t md5_lanes_step_constants[64];

// Independent groups of lanes each kernel interleaves, and so its width in lanes. The steps
// of one group wait on their own results, so a second group fills the gaps: about 1.3 times
// the throughput with AVX2 and 1.45 times with AVX-512 (bench_md5). A third no longer fits
// the registers.
constexpr int kMd5LanesAvx2Groups = 2;
constexpr int kMd5LanesAvx512Groups = 2;
constexpr int kMd5LanesAvx2Width = 8 * kMd5LanesAvx2Groups;
constexpr int kMd5LanesAvx512Width = 16 * kMd5LanesAvx512Groups;

// As md5_lanes_compress, for the given width of lanes.
void md5_lanes_compress_avx2(uint32_t* chain, const uint8_t* const* data, size_t blocks);
void md5_lanes_compress_avx512(uint32_t* chain, const uint8_t* const* data, size_t blocks);
#endif

#endif  // VARNELO_DIGEST_MD5_LANES_KERNELS_H_
