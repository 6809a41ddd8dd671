// Audio regions digested in lanes against md5_hashfile_fast, file by file, on every lane
// path.
#include "database/lane_hashing.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "platform/platform.h"
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
  // Around the pieces a lane reads: the ID3v1 probe in the first read, in the last, or
  // split across two; an ID3v2 tag longer than the first read; one ending inside the probe.
  const int64_t piece = static_cast<int64_t>(lane_hashing::kPieceBytes);
  int seed = 20;
  for (int64_t size : {piece - 1, piece, piece + 127, piece + 128, piece + 129, piece + 200,
                       2 * piece + 128, 2 * piece + 129}) {
    const std::string n = std::to_string(size);
    files.push_back({"plain_" + n, random_bytes(size, seed++)});
    files.push_back({"v1_" + n, concat({random_bytes(size - 128, seed++),
                                        testing_support::id3v1_tag("edge")})});
  }
  files.push_back({"v2_past_first_read",
                   concat({testing_support::id3v2_tag(piece + 500), random_bytes(3000, seed++),
                           testing_support::id3v1_tag("long")})});
  files.push_back({"v2_into_probe",
                   concat({testing_support::id3v2_tag(2 * piece), random_bytes(60, seed++),
                           testing_support::id3v1_tag("over")})});
  files.push_back({"v2_into_probe_no_v1",
                   concat({testing_support::id3v2_tag(2 * piece), random_bytes(60, seed++)})});
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

  // Opens the paths as the scan's workers do, digests them in one run and compares each
  // result with md5_hashfile_fast.
  void expect_fast_digests(lane_hashing::hasher& hasher, const std::vector<std::string>& paths) {
    std::vector<platform::unique_fd> fds(paths.size());
    std::vector<std::string> got(paths.size(), "not delivered");
    size_t next = 0;
    auto give = [&](size_t* tag, lane_hashing::region_job* job) {
      while (next < paths.size()) {
        size_t i = next++;
        platform::file_state st;
        fds[i] = platform::open_regular_fd(paths[i].c_str(), &st);
        if (!fds[i]) {
          got[i] = "null";
          continue;
        }
        *tag = i;
        job->fd = fds[i].get();
        job->size = st.size;
        return true;
      }
      return false;
    };
    auto take = [&](size_t tag, bool has_digest, const unsigned char* digest) {
      EXPECT_EQ(got[tag], "not delivered") << paths[tag];
      got[tag] = has_digest ? testing_support::hex(digest) : "null";
    };
    ASSERT_TRUE(hasher.run(give, take));
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(got[i], fast(paths[i])) << paths[i];
  }
};

TEST_P(LaneHashing, GivesMd5HashfileFastAnswerForEveryRegionRule) {
  TempDir dir;
  std::vector<std::string> paths = make_quirk_files(dir);
  paths.push_back(dir.file("missing.mp3"));
  lane_hashing::hasher hasher(GetParam());
  expect_fast_digests(hasher, paths);
  // The same hasher again, its buffers reused, with the files in another order.
  std::vector<std::string> reversed(paths.rbegin(), paths.rend());
  expect_fast_digests(hasher, reversed);
}

TEST_P(LaneHashing, ManyFilesInRunsOfAnySize) {
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
  lane_hashing::hasher hasher(GetParam());
  for (size_t run : {size_t{1}, size_t{7}, size_t{60}}) {
    for (size_t at = 0; at < paths.size(); at += run) {
      std::vector<std::string> part(paths.begin() + at,
                                    paths.begin() + std::min(paths.size(), at + run));
      expect_fast_digests(hasher, part);
    }
  }
}

TEST_P(LaneHashing, RegionCutShortAfterItWasFoundGetsNoDigest) {
  TempDir dir;
  std::string path = dir.file("shrinking.mp3");
  write_file(path, random_bytes(600000, 9));
  platform::file_state st;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &st);
  ASSERT_TRUE(fd);
  lane_hashing::region_job job{fd.get(), st.size};
  ASSERT_EQ(truncate(path.c_str(), 300000), 0);
  bool given = false;
  int calls = 0;
  bool had_digest = true;
  lane_hashing::hasher hasher(GetParam());
  ASSERT_TRUE(hasher.run(
      [&](size_t* tag, lane_hashing::region_job* j) {
        if (given) return false;
        given = true;
        *tag = 0;
        *j = job;
        return true;
      },
      [&](size_t, bool has_digest, const unsigned char*) {
        ++calls;
        had_digest = has_digest;
      }));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(had_digest);
}

std::string path_name(const testing::TestParamInfo<md5_lanes_path>& info) {
  const char* names[] = {"Auto", "Scalar", "Avx2", "Avx512"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Paths, LaneHashing,
                         testing::Values(md5_lanes_scalar, md5_lanes_avx2, md5_lanes_avx512),
                         path_name);

}  // namespace
