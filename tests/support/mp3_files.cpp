// MP3-like test files.
#include "tests/support/mp3_files.h"

#include <algorithm>
#include <random>

#include "digest/md5.h"

namespace testing_support {

bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(gen());
  return out;
}

bytes id3v2_tag(size_t body, unsigned char filler) {
  bytes tag = {'I', 'D', '3', 3, 0, 0};
  tag.push_back(static_cast<unsigned char>((body >> 21) & 0x7f));
  tag.push_back(static_cast<unsigned char>((body >> 14) & 0x7f));
  tag.push_back(static_cast<unsigned char>((body >> 7) & 0x7f));
  tag.push_back(static_cast<unsigned char>(body & 0x7f));
  tag.insert(tag.end(), body, filler);
  return tag;
}

bytes id3v1_tag(const std::string& title) {
  bytes tag(128, 0);
  tag[0] = 'T';
  tag[1] = 'A';
  tag[2] = 'G';
  for (size_t i = 0; i < title.size() && i < 30; ++i) tag[3 + i] = static_cast<unsigned char>(title[i]);
  return tag;
}

bytes make_mp3(const mp3_parts& parts) {
  bytes out;
  if (parts.has_id3v2) out = id3v2_tag(parts.id3v2_body);
  out.insert(out.end(), parts.audio.begin(), parts.audio.end());
  if (parts.has_id3v1) {
    bytes tag = id3v1_tag(parts.title);
    out.insert(out.end(), tag.begin(), tag.end());
  }
  return out;
}

bytes md5_of(const bytes& data) {
  md5_state s;
  md5_init(&s);
  // Appends in pieces below 2 GiB, the limit of one append.
  for (size_t at = 0; at < data.size(); at += 1u << 30) {
    size_t n = std::min<size_t>(data.size() - at, 1u << 30);
    md5_append(&s, data.data() + at, static_cast<int32_t>(n));
  }
  bytes d(16);
  md5_finish(&s, d.data());
  return d;
}

std::string hex(const unsigned char* digest16) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    out += kDigits[digest16[i] >> 4];
    out += kDigits[digest16[i] & 15];
  }
  return out;
}

}  // namespace testing_support
