// The audio region and its digest (and md5_hashfile_fast, built on them) follow the region
// rules on every kind of file.
#include "database/audio_region.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <string>

#include "database/mp3_db.h"
#include "database/prehash.h"
#include "platform/platform.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bytes raw(const std::string& s) { return bytes(s.begin(), s.end()); }

// The digest the rules give for the file's bytes, worked out here on the bytes themselves:
// an ID3v1 tag in the last 128 bytes (or at the start of a shorter file), an ID3v2 length
// from signed size bytes that must stay below the size; "null" for a non-empty file with no
// audio left.
std::string reference(const bytes& file) {
  const int64_t n = static_cast<int64_t>(file.size());
  const unsigned char* tail = n >= 128 ? file.data() + n - 128 : file.data();
  const int64_t t1 = std::min<int64_t>(n, 128) >= 3 && memcmp(tail, "TAG", 3) == 0 ? 128 : 0;
  int64_t t2 = 0;
  if (n >= 3 && memcmp(file.data(), "ID3", 3) == 0) {
    auto b = [&](int i) { return i < n ? static_cast<int64_t>(static_cast<int8_t>(file[i])) : 0; };
    const int64_t len = ((b(6) * 128 + b(7)) * 128 + b(8)) * 128 + b(9) + 10;
    t2 = len > 0 && len < n ? len : 0;
  }
  if (n > 0 && n - t2 - t1 <= 0) return "null";
  const bytes region(file.begin() + t2, file.begin() + (n - t1));
  return testing_support::hex(testing_support::md5_of(region).data());
}

std::string fast(const std::string& path) {
  unsigned char* d = md5_hashfile_fast(path.c_str());
  if (d == nullptr) return "null";
  std::string h = testing_support::hex(d);
  free(d);
  return h;
}

std::string ours(const std::string& path, audio_region::read_buffer& buffer) {
  platform::file_state st;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &st);
  if (!fd) return "unopenable";
  unsigned char d[16];
  return audio_region::digest_file(fd.get(), st.size, buffer, d) ? testing_support::hex(d) : "null";
}

TEST(AudioRegionDigest, FollowsTheRegionRulesForEveryTagLayout) {
  testing_support::TempDir dir;
  const size_t kChunk = audio_region::read_buffer::kBytes;
  bytes audio = testing_support::random_bytes(3000, 1);
  bytes v2_signed = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x81, 0x05};  // negative size byte
  bytes v2_zero = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
  bytes v2_huge = {'I', 'D', '3', 3, 0, 0, 0x7f, 0x7f, 0x7f, 0x7f};
  struct sample {
    const char* name;
    bytes content;
  } samples[] = {
      {"empty", {}},
      {"plain", audio},
      {"v1 only", concat({audio, testing_support::id3v1_tag("t")})},
      {"v2 only", concat({testing_support::id3v2_tag(257), audio})},
      {"both tags",
       concat({testing_support::id3v2_tag(500), audio, testing_support::id3v1_tag("x")})},
      {"v2 size zero", concat({v2_zero, audio})},
      {"v2 reaching the end", concat({v2_huge, audio})},
      {"v2 with a negative size byte", concat({v2_signed, audio})},
      {"only tags", concat({testing_support::id3v2_tag(20), testing_support::id3v1_tag("t")})},
      {"short file starting with TAG", raw("TAG and a little more")},
      {"exactly TAG", raw("TAG")},
      {"128 bytes of tag", testing_support::id3v1_tag("only")},
      {"two bytes", raw("ab")},
      {"one chunk", testing_support::random_bytes(kChunk, 2)},
      {"chunk and one", testing_support::random_bytes(kChunk + 1, 3)},
      {"chunks with v1 across the edge",
       concat({testing_support::id3v2_tag(100), testing_support::random_bytes(2 * kChunk - 50, 4),
               testing_support::id3v1_tag("edge")})},
  };
  audio_region::read_buffer buffer;  // one buffer across files, as a hasher keeps it
  for (const sample& s : samples) {
    std::string path = dir.file("f.mp3");
    testing_support::write_file(path, s.content);
    const std::string want = reference(s.content);
    EXPECT_EQ(fast(path), want) << s.name;
    EXPECT_EQ(ours(path, buffer), want) << s.name;
    prehash::outcome o = prehash::hash_file(path.c_str(), buffer);
    EXPECT_EQ(o.has_digest ? testing_support::hex(o.digest) : "null", want) << s.name;
  }
}

TEST(AudioRegionDigest, RegionLeavesOutBothTags) {
  testing_support::TempDir dir;
  bytes audio = testing_support::random_bytes(1000, 9);
  std::string path = dir.file("a.mp3");
  testing_support::write_file(path, concat({testing_support::id3v2_tag(2 * 128 + 1), audio,
                                            testing_support::id3v1_tag("t")}));
  platform::file_state st;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &st);
  ASSERT_TRUE(fd);
  audio_region::region r = audio_region::find(fd.get(), st.size);
  EXPECT_TRUE(r.digestible);
  EXPECT_EQ(r.offset, 267);
  EXPECT_EQ(r.length, 1000);
  audio_region::read_buffer buffer;
  unsigned char d[16];
  ASSERT_TRUE(audio_region::digest(fd.get(), r, buffer, d));
  EXPECT_EQ(testing_support::hex(d), testing_support::hex(testing_support::md5_of(audio).data()));
}

}  // namespace
