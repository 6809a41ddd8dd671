// Digesting the audio regions of several open files side by side in the lanes of the
// multi-lane MD5 (digest/md5_lanes.h): each region gets exactly the digest that
// audio_region::digest gives it, but one core advances many of them at once.
#ifndef VARNELO_DATABASE_LANE_HASHING_H_
#define VARNELO_DATABASE_LANE_HASHING_H_

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <vector>

#include "database/audio_region.h"
#include "database/walk_stop.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

namespace lane_hashing {

// How many bytes one read of a lane takes from its file. With the buffers in huge pages,
// 128 KiB beat 64 and 256 KiB: fewer reads, while every lane's piece still stays in the
// processor's caches until it is digested.
constexpr size_t kPieceBytes = 128 * 1024;
// Each lane's buffer: a piece and, with the last one, the ID3v1 probe after it.
constexpr size_t kBufferBytes = kPieceBytes + audio_region::kId3v1Length;
// The lanes' buffers lie side by side, each from the start of a page, in one block that the
// system may back with huge pages: the kernel copies into them and the digest reads them
// through, megabytes a round, and with small pages both miss the address cache often.
constexpr size_t kLaneStride = (kBufferBytes + 4095) / 4096 * 4096;
// The bytes allocated for the buffers of width lanes.
constexpr size_t block_bytes(int width) {
  return kLaneStride * static_cast<size_t>(width) + platform::kHugePageBytes;
}

// One open regular file of the given size. Its audio region is found as audio_region::find
// finds it, from the bytes the digest reads anyway: the ID3v2 header comes with the first
// piece and the ID3v1 probe with the last.
struct region_job {
  int fd = -1;
  int64_t size = 0;
};

// Gives the next file to digest: sets *tag (the caller's) and *job and answers true, or
// answers false when there is none for now.
using next_fn = std::function<bool(size_t* tag, region_job* job)>;
// Receives a file's result: has_digest false (and digest null) where audio_region::digest_file
// would give none (a region that is not digestible or cannot be read whole).
using done_fn = std::function<void(size_t tag, bool has_digest, const unsigned char* digest)>;

// Keeps one read buffer per lane from run to run.
class hasher {
 public:
  // path: md5_lanes_auto for the widest the processor has.
  explicit hasher(md5_lanes_path path = md5_lanes_auto);
  ~hasher();
  hasher(const hasher&) = delete;
  hasher& operator=(const hasher&) = delete;

  // How many files are digested at once.
  int width() const { return width_; }

  // Digests files as next hands them out, until it answers false and the lanes have
  // finished; done is called once for every file next gave, in the order they finish.
  // Both are called on this thread. The descriptors stay the caller's, and must stay open
  // until the file's done call. Once stop (if given) is requested, the files in the lanes
  // are given up (done without a digest). False when the buffers could not be had (nothing
  // is asked).
  bool run(const next_fn& next, const done_fn& done, const walk_stop::flag* stop = nullptr);

 private:
  struct slot;
  md5_lanes_path path_;
  int width_;
  std::unique_ptr<unsigned char[]> block_;
  unsigned char* first_buffer_ = nullptr;
};

}  // namespace lane_hashing

#endif  // VARNELO_DATABASE_LANE_HASHING_H_
