// Content digests in lanes against md5_hashfile_fast, file by file, on every lane path.
#include "database/lane_hashing.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::random_bytes;
using testing_support::TempDir;
using testing_support::write_file;

std::string fast(const std::string& path) {
  unsigned char* d = md5_hashfile_fast(path.c_str());
  if (!d) return "null";
  std::string out = testing_support::hex(d);
  free(d);
  return out;
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bytes tag_header(unsigned char s6, unsigned char s7, unsigned char s8, unsigned char s9) {
  return {'I', 'D', '3', 4, 0, 0, s6, s7, s8, s9};
}

// Files that exercise every rule of the region: tags, the short-file ID3v1 probe, signed
// ID3v2 size bytes, sizes at and past the file's end, no audio at all, empty files.
std::vector<std::string> make_quirk_files(const TempDir& dir) {
  std::vector<std::pair<std::string, bytes>> files = {
      {"empty", {}},
      {"one", {0x41}},
      {"tag_word", {'T', 'A', 'G'}},
      {"short_tag", concat({{'T', 'A', 'G'}, random_bytes(47, 1)})},
      {"only_v1", testing_support::id3v1_tag("x")},
      {"only_v2", testing_support::id3v2_tag(100)},
      {"v2_v1_no_audio",
       concat({testing_support::id3v2_tag(20), testing_support::id3v1_tag("y")})},
      {"signed_size", concat({tag_header(0, 0, 0x81, 0x90), random_bytes(5000, 2)})},
      {"negative_size", concat({tag_header(0xff, 0xff, 0xff, 0xff), random_bytes(900, 3)})},
      {"size_at_end", concat({tag_header(0, 0, 0, 90), random_bytes(90, 4)})},
      {"size_past_end", concat({tag_header(0, 0, 1, 0), random_bytes(50, 5)})},
      {"both_tags", concat({testing_support::id3v2_tag(300), random_bytes(70000, 6),
                            testing_support::id3v1_tag("z")})},
      {"large", concat({testing_support::id3v2_tag(4000), random_bytes(3 << 20, 7),
                        testing_support::id3v1_tag("big")})},
  };
  std::vector<std::string> paths;
  for (auto& [name, content] : files) {
    paths.push_back(dir.file(name + ".mp3"));
    write_file(paths.back(), content);
  }
  return paths;
}

class LaneHashing : public testing::TestWithParam<md5_lanes_path> {
 protected:
  void SetUp() override {
    if (!md5_lanes_available(GetParam())) GTEST_SKIP() << "the processor lacks this path";
  }

  // Hashes the paths in one batch and compares each job with md5_hashfile_fast.
  void expect_fast_digests(lane_hasher& hasher, const std::vector<std::string>& paths) {
    std::vector<lane_hash_job> jobs(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) jobs[i].path = paths[i].c_str();
    ASSERT_TRUE(hasher.hash(jobs.data(), jobs.size()));
    for (size_t i = 0; i < paths.size(); ++i) {
      std::string got = jobs[i].ok ? testing_support::hex(jobs[i].digest) : "null";
      EXPECT_EQ(got, fast(paths[i])) << paths[i];
      struct stat st;
      if (jobs[i].ok && stat(paths[i].c_str(), &st) == 0) {
        EXPECT_EQ(jobs[i].seen.st_size, st.st_size) << paths[i];
        EXPECT_EQ(jobs[i].seen.st_mtim.tv_nsec, st.st_mtim.tv_nsec) << paths[i];
      }
    }
  }
};

TEST_P(LaneHashing, GivesMd5HashfileFastAnswerForEveryRegionRule) {
  TempDir dir;
  std::vector<std::string> paths = make_quirk_files(dir);
  paths.push_back(dir.file("missing.mp3"));
  paths.push_back(dir.path());  // a folder
  std::string fifo = dir.file("fifo.mp3");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  paths.push_back(fifo);  // must be refused without blocking
  lane_hasher hasher(GetParam());
  expect_fast_digests(hasher, paths);
  // The same hasher again, its buffers reused, with the files in another order.
  std::vector<std::string> reversed(paths.rbegin(), paths.rend());
  expect_fast_digests(hasher, reversed);
}

TEST_P(LaneHashing, ManyFilesInBatchesOfAnySize) {
  TempDir dir;
  std::mt19937 rng(11);
  std::vector<std::string> paths;
  for (int i = 0; i < 60; ++i) {
    size_t n = rng() % 4 == 0 ? rng() % (1 << 20) : rng() % 3000;
    bytes content = random_bytes(n, 100 + i);
    if (i % 3 == 0) content = concat({testing_support::id3v2_tag(rng() % 500), content});
    if (i % 5 == 0) content = concat({content, testing_support::id3v1_tag("t")});
    paths.push_back(dir.file(std::to_string(i) + ".mp3"));
    write_file(paths.back(), content);
  }
  lane_hasher hasher(GetParam());
  for (size_t batch : {size_t{1}, size_t{7}, size_t{60}}) {
    for (size_t at = 0; at < paths.size(); at += batch) {
      std::vector<std::string> part(paths.begin() + at,
                                    paths.begin() + std::min(paths.size(), at + batch));
      expect_fast_digests(hasher, part);
    }
  }
}

std::string path_name(const testing::TestParamInfo<md5_lanes_path>& info) {
  const char* names[] = {"Auto", "Scalar", "Avx2", "Avx512"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Paths, LaneHashing,
                         testing::Values(md5_lanes_scalar, md5_lanes_avx2, md5_lanes_avx512),
                         path_name);

}  // namespace
