// The audio region of an MP3 file (the bytes between the ID3v2 tag at the start and the
// ID3v1 tag at the end) and its content digest, from one open file. The one place that
// says where the audio starts and ends: the tag probes and every digest routine use it.
// Finding the region and digesting it are separate steps, so that a caller can digest
// several regions side by side.
#ifndef VARNELO_DATABASE_AUDIO_REGION_H_
#define VARNELO_DATABASE_AUDIO_REGION_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "database/walk_stop.h"

namespace audio_region {

constexpr int64_t kId3v1Length = 128;
constexpr int64_t kId3v2HeaderLength = 10;

// Where the ID3v1 probe of a file of size bytes reads its kId3v1Length bytes: the tag's
// place at the end, or the start of a file shorter than the tag.
inline int64_t id3v1_probe_offset(int64_t size) {
  return size >= kId3v1Length ? size - kId3v1Length : 0;
}
// The ID3v1 tag's length (128 or 0) by the bytes probed; bytes not read must be 0.
int64_t id3v1_length(const unsigned char probe[kId3v1Length]);
// The ID3v2 tag's total length by the file's first 10 bytes (bytes not read 0), or 0 when
// there is none or its length is not below the file's size.
int64_t id3v2_length(const unsigned char header[kId3v2HeaderLength], int64_t size);

struct region {
  bool digestible = false;  // false where md5_hashfile_fast gives no digest
  int64_t offset = 0;
  int64_t length = 0;  // 0 only for an empty file, whose digest is that of no bytes
};

// The audio region of the open regular file fd of the given size.
region find(int fd, int64_t size);

// A read buffer kept by one hashing thread across files, so that no file pays for
// allocating and releasing one. It holds at most kBytes, and no more than the regions read
// through it so far have needed: a digest of one small file takes little memory.
class read_buffer {
 public:
  static constexpr size_t kBytes = 256 * 1024;
  // Room for min(want, kBytes) bytes at least. Throws std::bad_alloc when it cannot be had.
  unsigned char* data(size_t want);

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  size_t size_ = 0;
};

// Digests the region of fd through buffer. False when the region cannot be read whole, or
// when stop (if given) was requested meanwhile; it is looked at between pieces.
bool digest(int fd, const region& r, read_buffer& buffer, unsigned char out[16],
            const walk_stop::flag* stop = nullptr);

// Both steps: true with the digest md5_hashfile_fast gives for the file, false where it
// gives null (or the read was stopped).
bool digest_file(int fd, int64_t size, read_buffer& buffer, unsigned char out[16],
                 const walk_stop::flag* stop = nullptr);

}  // namespace audio_region

#endif  // VARNELO_DATABASE_AUDIO_REGION_H_
