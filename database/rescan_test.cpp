// A walk through files it already lists: they are looked at, not opened, yet one that can no
// longer be opened is warned of as before, an entry dropped meanwhile is added again, a walk
// that overtakes its scout keeps using it, and reading ahead stays within the descriptors
// the process may have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "database/adding.h"
#include "database/folder_walk.h"
#include "database/prehash.h"
#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/page_cache.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;

bytes song(uint32_t seed, size_t audio = 3000) {
  testing_support::mp3_parts p;
  p.has_id3v2 = seed % 2 == 0;
  p.id3v2_body = seed % 300;
  p.audio = testing_support::random_bytes(audio, seed);
  p.has_id3v1 = seed % 3 == 0;
  p.title = "song " + std::to_string(seed);
  return testing_support::make_mp3(p);
}

// The paths of the ".mp3" files in folder, in the order a walk meets them.
std::vector<std::string> walk_order(const std::string& folder) {
  std::vector<platform::dir_entry> entries;
  EXPECT_TRUE(platform::list_folder(folder.c_str(), &entries));
  std::vector<std::string> paths;
  for (const platform::dir_entry& e : entries)
    if (!e.is_folder && folder_rules::has_mp3_extension(e.name)) paths.push_back(folder + "/" + e.name);
  return paths;
}

int walk(const std::string& dir) {
  std::string buffer = dir;
  return add_directory(buffer.data(), scan_test::record, nullptr);
}

class Rescan : public scan_test::hashing_fixture {
 protected:
  void SetUp() override {
    scan_test::hashing_fixture::SetUp();
    chmod(dir_.path().c_str(), 0755);
  }
  // Files in three folders, settled, and listed by a first walk. Returns their paths.
  std::vector<std::string> listed_tree(int per_folder) {
    std::vector<std::string> paths;
    for (int f = 0; f < 3; ++f) {
      const std::string folder = dir_.file("f" + std::to_string(f));
      testing_support::make_dirs(folder);
      for (int i = 0; i < per_folder; ++i) {
        paths.push_back(folder + "/s" + std::to_string(i) + ".mp3");
        testing_support::write_file(paths.back(), song(static_cast<uint32_t>(f * 1000 + i)));
      }
    }
    scan_test::let_settle();
    EXPECT_EQ(walk(dir_.path()), static_cast<int>(paths.size()));
    return paths;
  }
  testing_support::TempDir dir_;
  scan_test::captured_output quiet_;
};

TEST_P(Rescan, ListedFilesThatCannotBeOpenedAreWarnedOfAsBefore) {
  std::vector<std::string> paths = listed_tree(10);
  const scan_test::tables_copy before = scan_test::copy_tables();
  chmod(paths[3].c_str(), 0);
  chmod(paths[13].c_str(), 0);
  unlink(paths[5].c_str());
  unlink(paths[7].c_str());
  ASSERT_EQ(mkfifo(paths[7].c_str(), 0644), 0);
  unlink(paths[9].c_str());
  ASSERT_EQ(mkdir(paths[9].c_str(), 0755), 0);
  unlink(paths[25].c_str());
  ASSERT_EQ(symlink("nowhere", paths[25].c_str()), 0);
  std::string result = scan_test::in_child(true, [&] {
    scan_test::captured_output out;
    walk(dir_.path());
    mp3db_walk_report report;
    mp3db_get_walk_report(&report);
    const prehash::counters c = folder_walk::last_walk_counters();
    std::ostringstream text;
    text << report.files_unread << " " << c.hashed_on_caller + c.hashed_ahead << " "
         << c.looked_at << " " << file_getfilenum() << "\n"
         << out.text();
    return text.str();
  });
  std::istringstream in(result);
  uint32_t unread = 0, digested = 0, looked = 0, entries = 0;
  ASSERT_TRUE(in >> unread >> digested >> looked >> entries) << result;
  std::set<std::string> warnings;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) warnings.insert(line);
  // The same lines a walk that opens every file writes, whether the threads looked ahead or
  // not: the gone file is simply not met, the folder is walked and then offered.
  std::set<std::string> expected;
  for (int i : {3, 13, 7, 9, 25}) expected.insert("Warning file not found:" + paths[i]);
  EXPECT_EQ(warnings, expected);
  EXPECT_EQ(unread, 4u);  // the folder named like a song is no file left out
  EXPECT_EQ(digested, 0u);
  EXPECT_EQ(entries, before.files.size());
  if (GetParam().hashers > 1) {
    EXPECT_GT(looked, 20u);
  }
  EXPECT_TRUE(scan_test::copy_tables() == before);
}

TEST_P(Rescan, EntryDroppedDuringTheWalkIsAddedAgainWhenReached) {
  listed_tree(20);
  const std::vector<std::string> order = walk_order(dir_.file("f2"));
  const std::string dropped = order.back();
  bool done = false;
  scan_test::g_reply = [&](const scan_test::call& c) {
    // By the first file of the last folder every file of it is planned and was found listed.
    if (!done && c.level == 2 && c.dir == dir_.file("f2")) {
      EXPECT_EQ(file_delete(dropped.c_str()), 1);
      done = true;
    }
    return 1;
  };
  EXPECT_EQ(walk(dir_.path()), 1);
  EXPECT_TRUE(done);
  EXPECT_NE(get_fileentrybyfilename(dropped.c_str()), -1);
  EXPECT_EQ(file_getfilenum(), 60u);
  scan_test::expect_current_digests();
}

TEST_P(Rescan, LookAtAListedFileStandsForOpeningItOnlyBriefly) {
  if (GetParam().hashers == 1) GTEST_SKIP() << "only threads look ahead";
  std::vector<std::string> paths = listed_tree(4);
  prehash::pipeline ahead(dir_.path(), GetParam().hashers);
  audio_region::read_buffer buffer;
  // Once looked at, the file goes; the look has grown old when the walk reaches it.
  for (int i = 0; i < 1000 && ahead.snapshot().looked_at < paths.size(); ++i) {
    ahead.top_up();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(ahead.snapshot().looked_at, paths.size());
  unlink(paths[0].c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  scan_test::captured_output out;
  const adding::add_outcome gone = adding::add_file(paths[0].c_str(), nullptr, &ahead, buffer,
                                                    nullptr);
  EXPECT_EQ(gone.what, adding::result::unreadable);
  EXPECT_EQ(gone.error, ENOENT);
  EXPECT_EQ(out.text(), "Warning file not found:" + paths[0] + "\n");
}

TEST_P(Rescan, WalkThatOvertookItsScoutDropsWhatItPassedAndGoesOn) {
  if (GetParam().hashers == 1) GTEST_SKIP() << "only threads look ahead";
  for (int i = 0; i < 300; ++i)
    testing_support::write_file(dir_.file("s" + std::to_string(i) + ".mp3"),
                                song(static_cast<uint32_t>(i), 200));
  scan_test::let_settle();
  ASSERT_EQ(walk(dir_.path()), 300);
  const std::vector<std::string> order = walk_order(dir_.path());
  prehash::pipeline ahead(dir_.path(), GetParam().hashers);
  audio_region::read_buffer buffer;
  prehash::outcome o;
  // The walk is far ahead of anything planned yet: it waits for the scout to reach it.
  ASSERT_TRUE(ahead.take(order[250], buffer, &o, 250));
  EXPECT_TRUE(o.listed);
  EXPECT_TRUE(o.opened);
  EXPECT_FALSE(ahead.take(order[10], buffer, &o, 10));
  for (int i = 251; i < 300; ++i) {
    ASSERT_TRUE(ahead.take(order[i], buffer, &o, i)) << i;
    EXPECT_TRUE(o.listed && o.opened) << i;
  }
  // A file met after the scout planned its last: no wait for what will never come.
  EXPECT_FALSE(ahead.take(dir_.file("new.mp3"), buffer, &o, 300));
  EXPECT_EQ(ahead.snapshot().planned, 300u);
}

// The calling thread takes the files dealt with out of the window in runs: within a run,
// a walk that goes ahead passes over the files between, one that meets a file nobody
// planned keeps the run, and files passed are given up.
TEST_P(Rescan, RunsTakenTogetherAnswerAsTheWindowWould) {
  if (GetParam().hashers == 1) GTEST_SKIP() << "only threads look ahead";
  for (int i = 0; i < 300; ++i)
    testing_support::write_file(dir_.file("s" + std::to_string(i) + ".mp3"),
                                song(static_cast<uint32_t>(i)));
  scan_test::let_settle();
  ASSERT_EQ(walk(dir_.path()), 300);
  const std::vector<std::string> order = walk_order(dir_.path());
  prehash::pipeline ahead(dir_.path(), GetParam().hashers);
  for (int i = 0; i < 1000 && ahead.snapshot().looked_at < 300; ++i) {
    ahead.top_up();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(ahead.snapshot().looked_at, 300u);
  audio_region::read_buffer buffer;
  prehash::outcome o;
  ASSERT_TRUE(ahead.take(order[0], buffer, &o, 0));
  ASSERT_TRUE(ahead.take(order[20], buffer, &o, 20));
  EXPECT_TRUE(o.listed && o.opened);
  EXPECT_FALSE(ahead.take(order[10], buffer, &o, 10));
  EXPECT_FALSE(ahead.take(dir_.file("new.mp3"), buffer, &o, 21));
  ASSERT_TRUE(ahead.take(order[21], buffer, &o, 21));
  // Without its place in the walk a file is looked for further on.
  ASSERT_TRUE(ahead.take(order[290], buffer, &o));
  EXPECT_FALSE(ahead.take(order[100], buffer, &o));
  for (int i = 291; i < 300; ++i) ASSERT_TRUE(ahead.take(order[i], buffer, &o, i)) << i;
}

INSTANTIATE_TEST_SUITE_P(Hashing, Rescan, scan_test::every_hashing(), scan_test::hashing_name);

class ReadAhead : public scan_test::scan_fixture {};

// Files already in the system's cache need no reading ahead: after two batches of them the
// reader steps aside for the hashers, and comes back when cold files join the queue.
TEST_F(ReadAhead, StepsAsideForCachedFilesAndComesBackForOthers) {
  testing_support::TempDir dir;
  for (int i = 0; i < 400; ++i)
    testing_support::write_file(dir.file("s" + std::to_string(i) + ".mp3"),
                                song(static_cast<uint32_t>(i), 100000));
  const std::vector<std::string> order = walk_order(dir.path());
  ASSERT_EQ(order.size(), 400u);
  scan_test::let_settle();
  mp3db_set_scan_workers(2);
  auto walked = [&] {
    tables::clear();
    EXPECT_EQ(walk(dir.path()), 400);
    return folder_walk::last_walk_counters();
  };
  {
    platform::file_state st;
    platform::unique_fd fd = platform::open_regular_fd(order.back().c_str(), &st);
    ASSERT_TRUE(fd);
    if (!platform::in_cache(fd.get(), st.size)) GTEST_SKIP() << "the system does not tell";
    for (const std::string& path : order) ASSERT_TRUE(testing_support::evict_from_cache(path));
    if (platform::in_cache(fd.get(), st.size)) GTEST_SKIP() << "files stay cached here (tmpfs?)";
  }
  // None cached: every file the workers digested was read ahead (a walk that overtook a
  // slow reader digests some itself).
  prehash::counters c = walked();
  EXPECT_GT(c.read_ahead, 64u);
  EXPECT_GE(c.read_ahead, c.hashed_ahead);
  // All cached by the walk before: two batches, and again two where the system put some
  // back out of its cache meanwhile, but far from all.
  EXPECT_LT(walked().read_ahead, 200u);
  // The first hundred cached, the rest not.
  for (size_t i = 100; i < order.size(); ++i)
    ASSERT_TRUE(testing_support::evict_from_cache(order[i]));
  EXPECT_GT(walked().read_ahead, 64u);
}

TEST_F(ReadAhead, LeavesDescriptorsForTheWalkUnderALowLimit) {
  // One worker digests while the reader, many times faster, runs ahead as far as it may:
  // every file it holds open is a descriptor the walk cannot have.
  testing_support::TempDir dir;
  for (int f = 0; f < 4; ++f) {
    const std::string folder = dir.file("f" + std::to_string(f));
    testing_support::make_dirs(folder);
    for (int i = 0; i < 100; ++i)
      testing_support::write_file(folder + "/s" + std::to_string(i) + ".mp3",
                                  song(static_cast<uint32_t>(f * 100 + i), 100000));
  }
  // Out of the cache, so that the reader does not step aside (where the system allows).
  for (int f = 0; f < 4; ++f)
    for (const std::string& path : walk_order(dir.file("f" + std::to_string(f))))
      testing_support::evict_from_cache(path);
  scan_test::let_settle();
  mp3db_set_scan_workers(2);
  mp3db_set_lanes(mp3db_lanes_off);
  const std::string result = scan_test::in_child(false, [&] {
    struct rlimit few = {64, 64};
    if (setrlimit(RLIMIT_NOFILE, &few) != 0) return std::string("no limit");
    scan_test::captured_output out;
    walk(dir.path());
    return std::to_string(file_getfilenum()) + " " + std::to_string(file_gethashnum()) + " " +
           std::to_string(folder_walk::last_walk_counters().read_ahead) + "\n" + out.text();
  });
  EXPECT_EQ(result.substr(0, 8), "400 400 ");
  EXPECT_EQ(result.substr(result.find('\n')), "\n") << result;
}

}  // namespace
