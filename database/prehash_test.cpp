// Hashing ahead of the walk: digests computed ahead are used only for unchanged files,
// and a walk with workers builds exactly the tables of a walk on the calling thread.
#include "database/prehash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "database/adding.h"
#include "database/folder_walk.h"
#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;

class HashAhead : public scan_test::scan_fixture {
 protected:
  void SetUp() override {
    scan_test::scan_fixture::SetUp();
    alarm(120);
  }
  void TearDown() override {
    alarm(0);
    scan_test::scan_fixture::TearDown();
  }
};

bytes song(std::mt19937& rng, uint32_t audio_seed, size_t audio_bytes) {
  testing_support::mp3_parts p;
  p.has_id3v2 = rng() % 2 == 0;
  p.id3v2_body = rng() % 2000;
  p.audio = testing_support::random_bytes(audio_bytes, audio_seed);
  p.has_id3v1 = rng() % 2 == 0;
  p.title = "title " + std::to_string(rng() % 1000);
  return testing_support::make_mp3(p);
}

template <typename Pred>
bool eventually(Pred pred) {
  for (int i = 0; i < 1000 && !pred(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return pred();
}

TEST_F(HashAhead, DigestsComputedAheadAreUsedOnlyForUnchangedFiles) {
  testing_support::TempDir dir;
  std::mt19937 rng(5);
  for (int i = 0; i < 8; ++i) {
    std::string path = dir.file(std::to_string(i) + ".mp3");
    testing_support::write_file(path, song(rng, static_cast<uint32_t>(i), 4000));
  }
  scan_test::let_settle();
  std::vector<platform::dir_entry> listing;
  ASSERT_TRUE(platform::list_folder(dir.path().c_str(), &listing));

  prehash::pipeline ahead(dir.path(), 3);
  ASSERT_TRUE(eventually([&] { return ahead.snapshot().planned == 8; }));
  ahead.top_up();
  ASSERT_TRUE(eventually([&] { return ahead.snapshot().hashed_ahead == 8; }));
  // Change every other file after it was hashed, keeping its size and times.
  for (size_t i = 0; i < listing.size(); i += 2) {
    std::string path = dir.file(listing[i].name);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    bytes other = song(rng, 1000 + static_cast<uint32_t>(i), 4000);
    other.resize(static_cast<size_t>(before.st_size));
    testing_support::write_file(path, other);
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  audio_region::read_buffer buffer;
  for (const platform::dir_entry& e : listing)
    EXPECT_EQ(adding::add_file(dir.file(e.name).c_str(), nullptr, &ahead, buffer, nullptr).what,
              adding::result::added);
  prehash::counters c = ahead.snapshot();
  EXPECT_EQ(c.used, 4u);
  EXPECT_EQ(c.rejected, 4u);
  EXPECT_EQ(c.hashed_on_caller, 4u);
  scan_test::expect_current_digests();
}

TEST_F(HashAhead, FilesModifiedJustBeforeTheirReadAreNotTrusted) {
  testing_support::TempDir dir;
  std::mt19937 rng(6);
  std::string path = dir.file("fresh.mp3");
  testing_support::write_file(path, song(rng, 1, 3000));
  audio_region::read_buffer buffer;
  EXPECT_FALSE(prehash::hash_file(path.c_str(), buffer).trusted);
  scan_test::let_settle();
  prehash::outcome o = prehash::hash_file(path.c_str(), buffer);
  EXPECT_TRUE(o.trusted);
  EXPECT_TRUE(o.has_digest);
  EXPECT_FALSE(prehash::hash_file(dir.file("missing.mp3").c_str(), buffer).trusted);
}

// A tree with random nesting, copies that differ only in their tags, entries that are
// no files, files without audio, fresh files, and files that vanish or appear during the
// walk. Everything it does depends on seed only.
struct generated_tree {
  std::vector<std::string> vanishing;  // deleted by the callback once the walk is under way
  std::vector<std::string> fresh;      // changed just before the walk

  void make(const std::string& root, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> folders = {root};
    for (int i = 0; i < 25; ++i) {
      std::string parent = folders[rng() % folders.size()];
      std::string name =
          (rng() % 7 == 0 ? "album " : "f") + std::to_string(i) + (rng() % 10 == 0 ? ".mp3" : "");
      folders.push_back(parent + "/" + name);
      testing_support::make_dirs(folders.back());
    }
    std::vector<uint32_t> recordings;
    for (int i = 0; i < 160; ++i) {
      std::string path = folders[rng() % folders.size()] + "/s" + std::to_string(i) +
                         (rng() % 8 == 0 ? ".ogg" : ".mp3");
      uint32_t kind = rng() % 20;
      if (kind == 0) {
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
      } else if (kind == 1) {
        ASSERT_EQ(symlink("gone", path.c_str()), 0);
      } else if (kind == 2) {
        testing_support::write_file(path, testing_support::id3v1_tag("tags only"));
      } else if (kind == 3) {
        testing_support::write_file(path, std::string());
      } else {
        // About a third are copies of an earlier recording with other tags.
        uint32_t audio = !recordings.empty() && rng() % 3 == 0
                             ? recordings[rng() % recordings.size()]
                             : static_cast<uint32_t>(i);
        recordings.push_back(audio);
        testing_support::write_file(path, song(rng, audio, 20000 + audio * 997 % 100000));
        if (kind == 4) chmod(path.c_str(), 0);  // unreadable unless running as root
        if (kind == 5) vanishing.push_back(path);
      }
      if (kind > 1 && rng() % 6 == 0 && kind != 4) fresh.push_back(path);
    }
    scan_test::let_settle();
    // Written again just before the walk: hashed ahead, but hashed again when added.
    for (const std::string& path : fresh) {
      bytes b = testing_support::read_file(path);
      testing_support::write_file(path, b);
    }
  }
};

scan_test::tables_copy walk_generated(const std::string& root, int hashers) {
  std::filesystem::remove_all(root);
  testing_support::make_dirs(root);
  generated_tree tree;
  tree.make(root, 77);
  tables::clear();
  mp3db_set_scan_workers(hashers);
  int calls = 0;
  scan_test::g_reply = [&](const scan_test::call& c) {
    // A pause at the start lets the scout get ahead, as it does when files are large.
    if (calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (c.level != -1 && ++calls == 20)
      for (const std::string& p : tree.vanishing) unlink(p.c_str());
    return 1;
  };
  scan_test::captured_output out;
  std::string dir = root;
  add_directory(dir.data(), scan_test::record, nullptr);
  scan_test::expect_current_digests();
  return scan_test::copy_tables();
}

// The saved database file, empty where the store cannot save.
std::string save_as(const std::string& path) {
  file_setdb(path.c_str());
  if (file_closedb() != 1) return std::string();
  bytes b = testing_support::read_file(path);
  return std::string(b.begin(), b.end());
}

TEST_F(HashAhead, OneAndSeveralHashersBuildIdenticalDatabases) {
  testing_support::TempDir dir;
  const std::string root = dir.file("tree");
  scan_test::tables_copy alone = walk_generated(root, 1);
  const std::string saved_alone = save_as(dir.file("alone.mp3db"));
  EXPECT_GT(saved_alone.size(), 16u + 16u * alone.digests.size());
  EXPECT_GT(alone.files.size(), 80u);
  EXPECT_LT(alone.digests.size(), alone.files.size());  // copies share digests
  for (int hashers : {2, 4}) {
    scan_test::tables_copy together = walk_generated(root, hashers);
    prehash::counters c = folder_walk::last_walk_counters();
    EXPECT_TRUE(together == alone) << hashers << " hashers";
    EXPECT_GT(c.used, 0u) << hashers << " hashers";
    EXPECT_GT(c.hashed_on_caller, 0u) << hashers << " hashers";
    const std::string saved = save_as(dir.file("together.mp3db"));
    EXPECT_EQ(saved.size(), saved_alone.size());
    EXPECT_TRUE(saved == saved_alone) << hashers << " hashers";
  }
}

TEST_F(HashAhead, WorkersDigestingInLanesBuildIdenticalDatabases) {
  testing_support::TempDir dir;
  const std::string root = dir.file("tree");
  mp3db_set_lanes(mp3db_lanes_off);
  scan_test::tables_copy alone = walk_generated(root, 1);
  const std::string saved_alone = save_as(dir.file("alone.mp3db"));
  ASSERT_GT(alone.files.size(), 80u);
  for (mp3db_lanes lanes : {mp3db_lanes_scalar, mp3db_lanes_avx2, mp3db_lanes_avx512}) {
    if (!md5_lanes_available(static_cast<md5_lanes_path>(lanes))) continue;
    for (int hashers : {2, 3}) {
      mp3db_set_lanes(lanes);
      scan_test::tables_copy together = walk_generated(root, hashers);
      prehash::counters c = folder_walk::last_walk_counters();
      EXPECT_TRUE(together == alone) << "lanes " << lanes << ", " << hashers << " hashers";
      EXPECT_GT(c.used, 0u) << "lanes " << lanes << ", " << hashers << " hashers";
      // The caller leaves queued files to the lanes rather than digesting them alone.
      EXPECT_EQ(c.hashed_helping, 0u) << "lanes " << lanes << ", " << hashers << " hashers";
      const std::string saved = save_as(dir.file("lanes.mp3db"));
      EXPECT_TRUE(saved == saved_alone) << "lanes " << lanes << ", " << hashers << " hashers";
    }
  }
}

}  // namespace
