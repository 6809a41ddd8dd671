// Reading listed files again: an entry whose file now holds other audio moves to the hash
// entry of its new digest, every other entry stays as it was, the table keeps its order,
// and the check stops at once when asked, whether it reads on the calling thread alone or
// with workers and lanes.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;

bytes song(uint32_t audio_seed, size_t id3v2_body, const std::string& title) {
  testing_support::mp3_parts p;
  p.has_id3v2 = id3v2_body > 0;
  p.id3v2_body = id3v2_body;
  p.audio = testing_support::random_bytes(4000 + audio_seed % 7 * 100, audio_seed);
  p.has_id3v1 = !title.empty();
  p.title = title;
  return testing_support::make_mp3(p);
}

struct verified_call {
  uint32_t index;
  int verified;
  int error;
};

class FileVerify : public scan_test::hashing_fixture {
 protected:
  // n files with the audio of seeds 0..n-1 (every third a copy of the one before it,
  // under other tags), added in order. Returns their paths.
  std::vector<std::string> listed(int n) {
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) {
      paths.push_back(dir_.file("s" + std::to_string(i) + ".mp3"));
      const uint32_t audio = static_cast<uint32_t>(i % 3 == 2 ? i - 1 : i);
      testing_support::write_file(paths.back(), song(audio, i % 2 ? 20 : 0, "t"));
    }
    for (const std::string& p : paths) EXPECT_EQ(file_add(p.c_str()), 1);
    return paths;
  }
  // Rewrites path, keeping it apart from what was read before by its times.
  static void rewrite(const std::string& path, const bytes& content) {
    testing_support::write_file(path, content);
  }
  int verify() {
    calls_.clear();
    return file_verifydb(
        [](uint32_t index, int verified, int error, void* context) {
          auto* self = static_cast<FileVerify*>(context);
          self->calls_.push_back({index, verified, error});
          return self->reply_ ? self->reply_(self->calls_.back()) : 1;
        },
        this);
  }
  testing_support::TempDir dir_;
  scan_test::captured_output quiet_;
  std::vector<verified_call> calls_;
  std::function<int(const verified_call&)> reply_;
};

TEST_P(FileVerify, EntryWhoseAudioChangedMovesToTheHashEntryOfItsNewDigest) {
  std::vector<std::string> paths = listed(12);
  const scan_test::tables_copy before = scan_test::copy_tables();
  rewrite(paths[0], song(4, 0, "t"));         // now the audio of s4: joins its group
  rewrite(paths[3], song(77, 0, "t"));        // audio never listed: a new hash entry
  rewrite(paths[5], song(4, 300, "other"));   // s5 was a copy of s4: the same audio, longer tags
  rewrite(paths[8], song(7, 20, "t"));        // s8 was a copy of s7; now still, other tags
  scan_test::let_settle();

  EXPECT_EQ(verify(), 4);  // two with other audio, two with other tags
  ASSERT_EQ(calls_.size(), paths.size());
  std::map<uint32_t, int> found;
  for (const verified_call& c : calls_) found[c.index] = c.verified;
  for (uint32_t i = 0; i < paths.size(); ++i) {
    const int want = i == 0 || i == 3 ? mp3db_verified_changed
                     : i == 5 || i == 8 ? mp3db_verified_resized
                                        : mp3db_verified_same;
    EXPECT_EQ(found[i], want) << paths[i];
  }
  const scan_test::tables_copy after = scan_test::copy_tables();
  // Entries keep their places; hash entries are only appended.
  ASSERT_EQ(after.files.size(), before.files.size());
  for (size_t i = 0; i < after.files.size(); ++i) EXPECT_EQ(after.files[i].name, before.files[i].name);
  ASSERT_EQ(after.digests.size(), before.digests.size() + 1);
  for (size_t i = 0; i < before.digests.size(); ++i) EXPECT_EQ(after.digests[i], before.digests[i]);
  EXPECT_EQ(after.files[0].hashid, before.files[4].hashid);
  EXPECT_EQ(after.files[3].hashid, static_cast<int32_t>(before.digests.size()));
  EXPECT_EQ(after.files[5].hashid, before.files[5].hashid);
  EXPECT_NE(after.files[5].filesize, before.files[5].filesize);
  scan_test::expect_current_digests();
  for (uint32_t i = 0; i < after.files.size(); ++i) {
    EXPECT_EQ(static_cast<int64_t>(after.files[i].filesize),
              static_cast<int64_t>(testing_support::read_file(paths[i]).size()));
  }
  // Read again unchanged: nothing moves.
  EXPECT_EQ(verify(), 0);
  EXPECT_TRUE(scan_test::copy_tables() == after);
}

TEST_P(FileVerify, FilesThatCannotBeReadOrHoldNoAudioKeepTheirEntries) {
  std::vector<std::string> paths = listed(6);
  const scan_test::tables_copy before = scan_test::copy_tables();
  unlink(paths[0].c_str());
  unlink(paths[1].c_str());
  ASSERT_EQ(mkfifo(paths[1].c_str(), 0644), 0);
  unlink(paths[2].c_str());
  ASSERT_EQ(mkdir(paths[2].c_str(), 0755), 0);
  rewrite(paths[3], testing_support::id3v1_tag("only a tag"));
  scan_test::let_settle();

  EXPECT_EQ(verify(), 0);
  ASSERT_EQ(calls_.size(), 6u);
  std::map<uint32_t, verified_call> found;
  for (const verified_call& c : calls_) found[c.index] = c;
  EXPECT_EQ(found[0].verified, mp3db_verified_unreadable);
  EXPECT_EQ(found[0].error, ENOENT);
  EXPECT_EQ(found[1].verified, mp3db_verified_unreadable);
  EXPECT_EQ(found[1].error, EINVAL);
  EXPECT_EQ(found[2].verified, mp3db_verified_unreadable);
  EXPECT_EQ(found[2].error, EISDIR);
  EXPECT_EQ(found[3].verified, mp3db_verified_no_audio);
  EXPECT_EQ(found[4].verified, mp3db_verified_same);
  EXPECT_TRUE(scan_test::copy_tables() == before);
}

TEST_P(FileVerify, StopsAtOnceWhenAskedAndUsesTheRequestUp) {
  std::vector<std::string> paths = listed(40);
  for (const std::string& p : paths) rewrite(p, song(1000 + static_cast<uint32_t>(p.size()), 0, ""));
  scan_test::let_settle();
  reply_ = [](const verified_call& c) {
    if (c.index == 4) mp3db_request_stop();
    return 1;
  };
  EXPECT_EQ(verify(), 5);
  EXPECT_EQ(calls_.size(), 5u);
  // Past the stop nothing changed; the request is used up, so the next check runs whole.
  reply_ = nullptr;
  EXPECT_EQ(verify(), 35);
  EXPECT_EQ(calls_.size(), 40u);
  // The callback's 0 stops it too.
  reply_ = [](const verified_call&) { return 0; };
  EXPECT_EQ(verify(), 0);
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_P(FileVerify, ProgressHasItsTotalsFromTheStart) {
  std::vector<std::string> paths = listed(9);
  uint64_t bytes = 0;
  for (const std::string& p : paths) bytes += testing_support::read_file(p).size();
  std::vector<mp3db_walk_progress> seen;
  reply_ = [&](const verified_call&) {
    seen.emplace_back();
    mp3db_get_walk_progress(&seen.back());
    return 1;
  };
  verify();
  ASSERT_EQ(seen.size(), 9u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].counted, 1);
    EXPECT_EQ(seen[i].files_total, 9u);
    EXPECT_EQ(seen[i].bytes_total, bytes);
    EXPECT_EQ(seen[i].files_done, i + 1);
  }
  EXPECT_EQ(seen.back().bytes_done, bytes);
}

INSTANTIATE_TEST_SUITE_P(Hashing, FileVerify, scan_test::every_hashing(), scan_test::hashing_name);

}  // namespace
