// MP3-like files built in code: an optional ID3v2 tag, audio bytes, an optional ID3v1 tag.
#ifndef VARNELO_TESTS_SUPPORT_MP3_FILES_H_
#define VARNELO_TESTS_SUPPORT_MP3_FILES_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace testing_support {

using bytes = std::vector<unsigned char>;

// Deterministic pseudo-random bytes.
bytes random_bytes(size_t n, uint32_t seed);

// An ID3v2 tag of total length 10 + body (body bytes filled with filler), with the size
// written as four 7-bit groups.
bytes id3v2_tag(size_t body, unsigned char filler = 0);
// A 128-byte ID3v1 tag: "TAG", the title (cut or zero-padded to 30 bytes), zeros.
bytes id3v1_tag(const std::string& title);

struct mp3_parts {
  size_t id3v2_body = 0;  // 0 with has_id3v2 = false: no ID3v2 tag at all
  bool has_id3v2 = false;
  bytes audio;
  bool has_id3v1 = false;
  std::string title;
};
bytes make_mp3(const mp3_parts& parts);

// The MD5 digest of bytes, as 16 raw bytes and as 32 lower-case hex digits.
bytes md5_of(const bytes& data);
std::string hex(const unsigned char* digest16);

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_MP3_FILES_H_
