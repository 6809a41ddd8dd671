// The progress of a walk: files and bytes done, and the totals a count made ahead of it,
// which end equal to what the walk met whatever the tree holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

class WalkProgress : public scan_test::hashing_fixture {
 protected:
  void TearDown() override {
    mp3db_set_walk_count(0);
    scan_test::hashing_fixture::TearDown();
  }
  std::string song(const std::string& rel, uint32_t seed, size_t audio) {
    testing_support::mp3_parts p;
    p.audio = testing_support::random_bytes(audio, seed);
    p.has_id3v1 = true;
    const std::string path = dir_.file(rel);
    testing_support::write_file(path, testing_support::make_mp3(p));
    return path;
  }
  // Walks the tree, keeping the progress seen at each file of it. The first file waits a
  // little, as a large file would, so that a count can end before the walk does.
  std::vector<mp3db_walk_progress> walk() {
    std::vector<mp3db_walk_progress> seen;
    scan_test::g_reply = [&](const scan_test::call& c) {
      if (c.level != -1) {
        if (seen.empty()) usleep(200 * 1000);
        seen.emplace_back();
        mp3db_get_walk_progress(&seen.back());
      }
      return 1;
    };
    std::string buffer = dir_.path();
    add_directory(buffer.data(), scan_test::record, nullptr);
    scan_test::g_reply = nullptr;
    return seen;
  }
  testing_support::TempDir dir_;
  scan_test::captured_output quiet_;
};

TEST_P(WalkProgress, CountMadeAheadEndsWithWhatTheWalkMet) {
  testing_support::make_dirs(dir_.file("a/b"));
  testing_support::make_dirs(dir_.file("named.mp3"));  // a folder: walked, never counted
  uint64_t to_read = 0;
  for (int i = 0; i < 30; ++i) {
    const std::string path = song((i % 2 ? "a/" : "a/b/") + std::to_string(i) + ".mp3",
                                  static_cast<uint32_t>(i), 1000 + 100 * i);
    if (i >= 10) to_read += static_cast<uint64_t>(testing_support::read_file(path).size());
  }
  song("a/notes.txt", 99, 500);
  ASSERT_EQ(mkfifo(dir_.file("a/pipe.mp3").c_str(), 0644), 0);
  ASSERT_EQ(symlink("..", dir_.file("a/b/up").c_str()), 0);  // leads back: entered once only
  scan_test::let_settle();
  // The first ten are listed before the walk: looked at, so no bytes to read.
  for (int i = 0; i < 10; ++i) {
    const std::string rel = (i % 2 ? "a/" : "a/b/") + std::to_string(i) + ".mp3";
    ASSERT_EQ(file_add(dir_.file(rel).c_str()), 1);
  }

  mp3db_set_walk_count(1);
  std::vector<mp3db_walk_progress> seen = walk();
  // Every file the callback is told of is one done, the folder named like a song aside.
  ASSERT_EQ(seen.size(), 32u);
  uint64_t last_files = 0;
  bool totals_seen = false;
  for (const mp3db_walk_progress& p : seen) {
    EXPECT_GE(p.files_done, last_files);
    EXPECT_LE(p.files_done, last_files + 1);
    last_files = p.files_done;
    // Counted ahead while the walk still went on, and no different from what it met.
    if (p.counted == 1 && !totals_seen) {
      totals_seen = true;
      EXPECT_EQ(p.files_total, 31u);
      EXPECT_EQ(p.bytes_total, to_read);
    }
  }
  EXPECT_TRUE(totals_seen);
  mp3db_walk_progress end;
  mp3db_get_walk_progress(&end);
  EXPECT_EQ(end.counted, 1);
  EXPECT_EQ(end.files_done, 31u);  // 30 songs and the FIFO
  EXPECT_EQ(end.files_total, 31u);
  EXPECT_EQ(end.bytes_total, to_read);
  EXPECT_EQ(end.bytes_done, to_read);

  // Without a count the totals stay empty, and a new walk starts from nothing.
  mp3db_set_walk_count(0);
  seen = walk();
  ASSERT_EQ(seen.size(), 32u);
  EXPECT_LE(seen.front().files_done, 1u);
  EXPECT_EQ(seen.back().bytes_done, 0u);  // all listed now: looked at only
  mp3db_get_walk_progress(&end);
  EXPECT_EQ(end.counted, 0);
  EXPECT_EQ(end.files_total, 0u);
  EXPECT_EQ(end.files_done, 31u);
}

INSTANTIATE_TEST_SUITE_P(Hashing, WalkProgress, scan_test::every_hashing(),
                         scan_test::hashing_name);

}  // namespace
