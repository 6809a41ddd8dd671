// The content digest of one open file, in two steps: find the audio region (the bytes
// between the ID3v2 tag at the start and the ID3v1 tag at the end, by the same probe
// rules as md5_hashfile_fast), then digest the region. Keeping the steps apart lets a
// caller digest several regions side by side.
#ifndef VARNELO_DATABASE_AUDIO_REGION_H_
#define VARNELO_DATABASE_AUDIO_REGION_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

namespace audio_region {

struct region {
  bool digestible = false;  // false where md5_hashfile_fast gives no digest
  int64_t offset = 0;
  int64_t length = 0;  // 0 only for an empty file, whose digest is that of no bytes
};

// The audio region of the open regular file fd of the given size.
region find(int fd, int64_t size);

// A read buffer kept by one hashing thread across files, so that no file pays for
// allocating and releasing one.
class read_buffer {
 public:
  static constexpr size_t kBytes = 256 * 1024;
  unsigned char* data();

 private:
  std::unique_ptr<unsigned char[]> bytes_;
};

// Digests the region of fd through buffer. False when the region cannot be read whole.
bool digest(int fd, const region& r, read_buffer& buffer, unsigned char out[16]);

// Both steps: true with the digest md5_hashfile_fast would give for the file, false
// where it would give null.
bool digest_file(int fd, int64_t size, read_buffer& buffer, unsigned char out[16]);

}  // namespace audio_region

#endif  // VARNELO_DATABASE_AUDIO_REGION_H_
