// Fuzzes the tag reading of the cleanup library on arbitrary file bytes (corrupted ID3v2,
// APEv2 and ID3v1 tags, broken frames): no crash, no sanitizer report, and a record that
// holds together: nothing read from an unreadable file, a version only with an ID3v2 tag,
// pictures no larger than the file, a score within its range, fields in valid UTF-8.
#include "cleanup/tags.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz_support.h"

using fuzz_support::check;

namespace {

bool valid_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string path = fuzz_support::write_scratch_file("tags", data, size);
  if (path.empty()) return 0;

  const cleanup::file_tags t = cleanup::read_tags(path.c_str());
  if (!t.readable) {
    check(!t.id3v2 && !t.id3v1 && !t.ape, "tags of an unreadable file");
    check((t.title + t.artist + t.album + t.album_artist + t.genre).empty(),
          "fields of an unreadable file");
    check(t.cover_count == 0 && t.length_ms == 0, "figures of an unreadable file");
  }
  check(t.id3v2 || t.id3v2_version == 0, "ID3v2 version without an ID3v2 tag");
  check(t.cover_bytes <= size, "cover bytes beyond the file");
  check(t.length_ms >= 0 && t.bitrate_kbps >= 0 && t.sample_rate_hz >= 0, "negative figures");
  const int score = cleanup::tag_score(t);
  check(score >= 0 && score <= 14, "score out of range");
  for (const std::string* field : {&t.title, &t.artist, &t.album, &t.album_artist, &t.genre})
    check(valid_utf8(*field), "field not valid UTF-8");
  return 0;
}
