// Finding and digesting the audio region of an open file.
#include "database/audio_region.h"

#include <fcntl.h>
#include <limits.h>
#include <string.h>

#include <algorithm>

#include "digest/md5.h"
#include "platform/platform.h"

namespace audio_region {

int64_t id3v1_length(const unsigned char probe[kId3v1Length]) {
  return memcmp(probe, "TAG", 3) == 0 ? kId3v1Length : 0;
}

int64_t id3v2_length(const unsigned char header[kId3v2HeaderLength], int64_t size) {
  if (memcmp(header, "ID3", 3) != 0) return 0;
  // The size bytes count as signed 8-bit values, as the stored databases were made so.
  auto b = [&](int i) { return static_cast<int64_t>(static_cast<int8_t>(header[i])); };
  const int64_t n = ((b(6) * 128 + b(7)) * 128 + b(8)) * 128 + b(9) + kId3v2HeaderLength;
  return n > 0 && n < size ? n : 0;
}

region find(int fd, int64_t size) {
  region r;
  // Sizes are 32-bit in the database; larger files get no digest, as with the probes.
  if (size < 0 || size > INT_MAX) return r;

  unsigned char tail[kId3v1Length] = {};
  if (platform::read_at(fd, tail, sizeof tail, id3v1_probe_offset(size)) < 0) return r;
  const int64_t t1 = id3v1_length(tail);
  unsigned char head[kId3v2HeaderLength] = {};
  if (platform::read_at(fd, head, sizeof head, 0) < 0) return r;
  const int64_t t2 = id3v2_length(head, size);

  const int64_t length = size - t2 - t1;
  if (size > 0 && length <= 0) return r;
  r.digestible = true;
  r.offset = size > 0 ? t2 : 0;
  r.length = size > 0 ? length : 0;
  return r;
}

unsigned char* read_buffer::data(size_t want) {
  want = std::min(want, kBytes);
  if (size_ < want) {
    // Small regions get what they need; anything larger gets the whole buffer at once.
    const size_t size = want < kBytes / 4 ? want : kBytes;
    bytes_.reset();
    size_ = 0;
    bytes_ = std::make_unique_for_overwrite<unsigned char[]>(size);
    size_ = size;
  }
  return bytes_.get();
}

bool digest(int fd, const region& r, read_buffer& buffer, unsigned char out[16],
            const walk_stop::flag* stop) {
  if (!r.digestible) return false;
  md5_state state;
  md5_init(&state);
  if (r.length > 0) posix_fadvise(fd, r.offset, r.length, POSIX_FADV_SEQUENTIAL);
  unsigned char* bytes = r.length > 0 ? buffer.data(static_cast<size_t>(r.length)) : nullptr;
  for (int64_t done = 0; done < r.length;) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    size_t want = static_cast<size_t>(
        std::min<int64_t>(r.length - done, static_cast<int64_t>(read_buffer::kBytes)));
    // A region that cannot be read whole gives no digest, as its single read would.
    if (platform::read_at(fd, bytes, want, r.offset + done) != static_cast<int64_t>(want))
      return false;
    md5_append(&state, bytes, static_cast<int32_t>(want));
    done += static_cast<int64_t>(want);
  }
  md5_finish(&state, out);
  return true;
}

bool digest_file(int fd, int64_t size, read_buffer& buffer, unsigned char out[16],
                 const walk_stop::flag* stop) {
  return digest(fd, find(fd, size), buffer, out, stop);
}

}  // namespace audio_region
