// mp3db_request_stop: the walk stops before its next entry, descent or file, in the middle of
// a long read too, with the calling thread hashing alone, with workers and with lanes; and
// the request stops one walk only.
#include "database/walk_stop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "database/mp3_db.h"
#include "database/scan_test_util.h"
#include "database/tables.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using scan_test::call;
using scan_test::g_calls;
using scan_test::g_reply;

class WalkStop : public scan_test::hashing_fixture {
 protected:
  void TearDown() override {
    walk_stop::clear();
    scan_test::hashing_fixture::TearDown();
  }

  // Six folders of five songs and five songs beside them.
  void make_tree() {
    for (int f = 0; f <= 6; ++f) {
      const std::string folder = f == 6 ? dir_.path() : dir_.file("F" + std::to_string(f));
      testing_support::make_dirs(folder);
      for (int i = 0; i < 5; ++i) {
        testing_support::mp3_parts p;
        p.audio = testing_support::random_bytes(2000, static_cast<uint32_t>(10 * f + i + 1));
        testing_support::write_file(folder + "/s" + std::to_string(i) + ".mp3",
                                    testing_support::make_mp3(p));
      }
    }
  }

  int walk() {
    std::string buffer = dir_.path();
    return add_directory(buffer.data(), scan_test::record, nullptr);
  }

  testing_support::TempDir dir_;
};

std::vector<call> per_file_calls() {
  std::vector<call> out;
  for (const call& c : g_calls)
    if (c.level != -1) out.push_back(c);
  return out;
}

TEST_P(WalkStop, RequestFromTheCallbackEndsTheWalkBeforeItsNextFile) {
  make_tree();
  constexpr size_t kStopAt = 7;
  g_reply = [](const call& c) {
    if (c.level != -1 && per_file_calls().size() == kStopAt) mp3db_request_stop();
    return 1;
  };
  EXPECT_EQ(walk(), static_cast<int>(kStopAt));
  // Exactly the files met before the request were added, in the order they were met.
  const std::vector<call> files = per_file_calls();
  ASSERT_EQ(files.size(), kStopAt);
  ASSERT_EQ(file_getfilenum(), kStopAt);
  for (size_t i = 0; i < kStopAt; ++i)
    EXPECT_EQ(db_getfileentry(static_cast<uint32_t>(i))->filename,
              files[i].dir + "/" + files[i].name);
  // No folder was entered after it: each folder seen got one finished call, and only those.
  std::set<std::string> seen, finished;
  for (const call& c : g_calls) (c.level == -1 ? finished : seen).insert(c.dir);
  for (const std::string& d : seen) EXPECT_EQ(finished.count(d), 1u) << d;
  EXPECT_EQ(g_calls.back().dir, dir_.path());
  EXPECT_EQ(g_calls.size() - files.size(), finished.size());
  EXPECT_FALSE(walk_stop::requested());  // used up by the walk that stopped for it
  scan_test::expect_current_digests();

  // The next walk runs to its end.
  scan_test::reset_recorder();
  tables::clear();
  EXPECT_EQ(walk(), 35);
}

TEST_P(WalkStop, RequestMadeBetweenWalksStopsOnlyTheNextOne) {
  make_tree();
  mp3db_request_stop();
  EXPECT_EQ(walk(), 0);
  EXPECT_TRUE(g_calls.empty());  // the chosen folder was not even entered
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(walk(), 35);
  EXPECT_EQ(file_getfilenum(), 35u);
}

// A file far larger than any read buffer, read while the request comes from another thread:
// the read gives up and the file is not added.
TEST_P(WalkStop, RequestFromAnotherThreadDuringALongReadAddsNothingMore) {
  const std::string big = dir_.file("big.mp3");
  int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  // 512 MiB without a byte on disk: no processor digests them in a tenth of a second.
  ASSERT_EQ(ftruncate(fd, off_t{1} << 29), 0);
  close(fd);
  std::thread requester([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    mp3db_request_stop();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(walk(), 0);
  const auto took = std::chrono::steady_clock::now() - started;
  requester.join();
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_TRUE(per_file_calls().empty());
  ASSERT_EQ(g_calls.size(), 1u);  // the chosen folder's finished call
  // Told apart from a digest that ran to its end, which could not take less time here.
  unsigned char* whole = nullptr;
  const auto whole_started = std::chrono::steady_clock::now();
  whole = md5_hashfile_fast(big.c_str());
  const auto whole_took = std::chrono::steady_clock::now() - whole_started;
  ASSERT_NE(whole, nullptr);
  free(whole);
  EXPECT_LT(took, whole_took);
}

INSTANTIATE_TEST_SUITE_P(Hashing, WalkStop,
                         scan_test::every_hashing(), scan_test::hashing_name);

}  // namespace
