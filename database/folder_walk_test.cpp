// add_directory: walk order, levels, the callback and its answers, the event pump, and
// trees that try to trip a walk up. Every behaviour is checked with the calling thread
// hashing alone and with workers hashing ahead.
#include "database/folder_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "database/mp3_db.h"
#include "database/scan_test_util.h"
#include "database/tables.h"
#include "platform/platform.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using scan_test::call;
using scan_test::captured_output;
using scan_test::g_calls;
using scan_test::g_reply;
using testing_support::bytes;
using testing_support::write_file;

bytes song(uint32_t seed, const std::string& title = "") {
  testing_support::mp3_parts p;
  p.has_id3v2 = true;
  p.id3v2_body = 64 + seed % 50;
  p.audio = testing_support::random_bytes(3000 + seed % 700, seed);
  p.has_id3v1 = !title.empty();
  p.title = title;
  return testing_support::make_mp3(p);
}

void song_file(const std::string& path, uint32_t seed) { write_file(path, song(seed, "t")); }

int walk(const std::string& dir, window_handle hwnd = nullptr) {
  std::string buffer = dir;
  return add_directory(buffer.data(), scan_test::record, hwnd);
}

std::vector<call> per_file_calls() {
  std::vector<call> out;
  for (const call& c : g_calls)
    if (c.level != -1) out.push_back(c);
  return out;
}

std::set<std::string> listed_names() {
  std::set<std::string> out;
  for (uint32_t i = 0; db_getfileentry(i) != nullptr; ++i) out.insert(db_getfileentry(i)->filename);
  return out;
}

class AddDirectory : public scan_test::workers_fixture {
 protected:
  testing_support::TempDir dir_;
};

TEST_P(AddDirectory, LevelsAndFolderFinishedCallsFollowTheNesting) {
  testing_support::make_dirs(dir_.file("A/B"));
  song_file(dir_.file("top.mp3"), 1);
  song_file(dir_.file("A/a.mp3"), 2);
  song_file(dir_.file("A/B/b.mp3"), 3);
  const std::string root = dir_.path(), a = root + "/A", b = a + "/B";

  EXPECT_EQ(walk(root, reinterpret_cast<window_handle>(0x1234)), 3);

  // The finished calls come innermost first, the chosen folder's last of all.
  std::vector<std::string> finished;
  for (const call& c : g_calls)
    if (c.level == -1) {
      EXPECT_EQ(c.name, "");
      finished.push_back(c.dir);
    }
  EXPECT_EQ(finished, (std::vector<std::string>{b, a, root}));
  EXPECT_EQ(g_calls.back().dir, root);
  EXPECT_EQ(g_calls.back().files_new, 3);
  for (const call& c : per_file_calls()) {
    EXPECT_EQ(c.hwnd, reinterpret_cast<window_handle>(0x1234));
    const std::string where = c.name == "top.mp3" ? root : c.name == "a.mp3" ? a : b;
    EXPECT_EQ(c.dir, where) << c.name;
    EXPECT_EQ(c.level, where == root ? 1 : where == a ? 2 : 3) << c.name;
  }
  // files_new counts the whole walk and grows by one per added file.
  std::vector<call> files = per_file_calls();
  ASSERT_EQ(files.size(), 3u);
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i].files_new, static_cast<int>(i + 1));
  // The entries are appended in the order the callback saw them.
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(db_getfileentry(static_cast<uint32_t>(i))->filename,
              files[i].dir + "/" + files[i].name);
  scan_test::expect_current_digests();
}

TEST_P(AddDirectory, OffersExactlyTheNamesWhoseLastDotStartsMp3) {
  for (const char* name : {"song.mp3", "a.b.mp3", ".mp3", "song.MP3", "song.mp3.bak", "song",
                           "song.mp3 ", "mp3", "x.Mp3"})
    song_file(dir_.file(name), static_cast<uint32_t>(strlen(name)) * 31);
  EXPECT_EQ(walk(dir_.path()), 3);
  std::set<std::string> offered;
  for (const call& c : per_file_calls()) offered.insert(c.name);
  EXPECT_EQ(offered, (std::set<std::string>{"song.mp3", "a.b.mp3", ".mp3"}));
  EXPECT_EQ(listed_names(), (std::set<std::string>{dir_.file("song.mp3"), dir_.file("a.b.mp3"),
                                                   dir_.file(".mp3")}));
}

TEST_P(AddDirectory, FolderNamedLikeAnMp3IsWalkedThenOffered) {
  testing_support::make_dirs(dir_.file("live.mp3"));
  song_file(dir_.file("live.mp3/inner.mp3"), 5);
  captured_output out;
  EXPECT_EQ(walk(dir_.path()), 1);
  EXPECT_EQ(out.text(), "Warning file not found:" + dir_.file("live.mp3") + "\n");
  const std::string root = dir_.path();
  std::vector<std::string> seen;
  for (const call& c : g_calls) seen.push_back(std::to_string(c.level) + ":" + c.name);
  EXPECT_EQ(seen, (std::vector<std::string>{"2:inner.mp3", "-1:", "1:live.mp3", "-1:"}));
  EXPECT_EQ(g_calls[2].files_new, 1);
  EXPECT_EQ(listed_names(), (std::set<std::string>{dir_.file("live.mp3/inner.mp3")}));
}

TEST_P(AddDirectory, ListedFileIsReportedButNotCountedOrAddedAgain) {
  song_file(dir_.file("old.mp3"), 1);
  song_file(dir_.file("new.mp3"), 2);
  ASSERT_EQ(file_add(dir_.file("old.mp3").c_str()), 1);
  EXPECT_EQ(walk(dir_.path()), 1);
  std::vector<call> files = per_file_calls();
  ASSERT_EQ(files.size(), 2u);
  for (const call& c : files)
    EXPECT_EQ(c.files_new, c.name == "old.mp3" && files[0].name == "old.mp3" ? 0 : 1);
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_STREQ(db_getfileentry(0)->filename, dir_.file("old.mp3").c_str());
}

TEST_P(AddDirectory, StopAtFirstMp3OfTheChosenFolderAddsOnlyWhatWasMet) {
  testing_support::make_dirs(dir_.file("sub"));
  song_file(dir_.file("sub/s1.mp3"), 10);
  song_file(dir_.file("sub/s2.mp3"), 11);
  for (uint32_t i = 0; i < 8; ++i) song_file(dir_.file("f" + std::to_string(i) + ".mp3"), 20 + i);
  g_reply = [](const call& c) { return c.level == 1 ? 0 : 1; };
  int result = walk(dir_.path());

  std::vector<call> files = per_file_calls();
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.back().level, 1);  // nothing of the chosen folder after the stop
  // The subfolder was walked only if the listing met it before the stopping file.
  bool sub_walked = std::any_of(g_calls.begin(), g_calls.end(),
                                [&](const call& c) { return c.dir == dir_.file("sub"); });
  EXPECT_EQ(files.size(), sub_walked ? 3u : 1u);
  EXPECT_EQ(file_getfilenum(), files.size());
  EXPECT_EQ(result, static_cast<int>(files.size()));
  EXPECT_EQ(g_calls.back().level, -1);
  EXPECT_EQ(g_calls.back().dir, dir_.path());
  scan_test::expect_current_digests();
}

TEST_P(AddDirectory, AbortWindsDownAddingAtMostOneFilePerFolder) {
  for (int f = 0; f < 3; ++f) {
    testing_support::make_dirs(dir_.file("F" + std::to_string(f)));
    for (int i = 0; i < 4; ++i)
      song_file(dir_.file("F" + std::to_string(f) + "/" + std::to_string(i) + ".mp3"), 100 * f + i);
  }
  g_reply = [](const call&) { return 0; };
  EXPECT_EQ(walk(dir_.path()), 3);
  EXPECT_EQ(per_file_calls().size(), 3u);
  EXPECT_EQ(g_calls.size(), 3u + 4u);  // every opened folder still gets its finished call
  EXPECT_EQ(file_getfilenum(), 3u);

  // The next walk counts from zero again.
  scan_test::reset_recorder();
  tables::clear();
  EXPECT_EQ(walk(dir_.file("F0")), 4);
  EXPECT_EQ(g_calls.front().files_new, 1);
  EXPECT_EQ(g_calls.front().level, 1);
}

TEST_P(AddDirectory, UnlistableChosenFolderReturnsZeroWithoutCalls) {
  song_file(dir_.file("a.mp3"), 1);
  EXPECT_EQ(walk(dir_.file("missing")), 0);
  EXPECT_EQ(walk(dir_.file("a.mp3")), 0);  // a file is no folder
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(walk(dir_.path()), 1);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].files_new, 1);
  EXPECT_EQ(g_calls[0].level, 1);
}

TEST_P(AddDirectory, TrailingSeparatorIsRemovedInPlace) {
  song_file(dir_.file("a.mp3"), 1);
  std::string with_slash = dir_.path() + "/";
  EXPECT_EQ(add_directory(with_slash.data(), scan_test::record, nullptr), 1);
  EXPECT_STREQ(with_slash.c_str(), dir_.path().c_str());
  EXPECT_EQ(g_calls.front().dir, dir_.path());
  EXPECT_STREQ(db_getfileentry(0)->filename, dir_.file("a.mp3").c_str());
}

TEST_P(AddDirectory, RunsToItsEndWithoutACallback) {
  testing_support::make_dirs(dir_.file("sub"));
  song_file(dir_.file("a.mp3"), 1);
  song_file(dir_.file("sub/b.mp3"), 2);
  std::string path = dir_.path();
  EXPECT_EQ(add_directory(path.data(), nullptr, nullptr), 2);
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_EQ(add_directory(nullptr, nullptr, nullptr), 0);
}

window_handle g_pumped_for = nullptr;
int g_pumps = 0;
void count_pump(window_handle hwnd) {
  g_pumped_for = hwnd;
  ++g_pumps;
}

TEST_P(AddDirectory, PumpsEventsAfterEveryEntryButTheStoppingOne) {
  testing_support::make_dirs(dir_.file("sub"));
  song_file(dir_.file("sub/x.mp3"), 1);
  song_file(dir_.file("a.mp3"), 2);
  write_file(dir_.file("notes.txt"), "text");
  g_pumps = 0;
  mp3db_set_event_pump(count_pump);
  window_handle hwnd = reinterpret_cast<window_handle>(0x77);
  walk(dir_.path(), hwnd);
  EXPECT_EQ(g_pumps, 4);  // sub, notes.txt, a.mp3 in the chosen folder, x.mp3 in sub
  EXPECT_EQ(g_pumped_for, hwnd);

  g_pumps = 0;
  scan_test::reset_recorder();
  tables::clear();
  g_reply = [](const call& c) { return c.name == "a.mp3" ? 0 : 1; };
  walk(dir_.path(), hwnd);
  // Pumped: the chosen folder's entries listed before a.mp3, and x.mp3 if sub was one.
  std::vector<platform::dir_entry> listing;
  ASSERT_TRUE(platform::list_folder(dir_.path().c_str(), &listing));
  int expected = 0;
  for (const platform::dir_entry& e : listing) {
    if (e.name == "a.mp3") break;
    expected += e.name == "sub" ? 2 : 1;
  }
  EXPECT_EQ(g_pumps, expected);
}

// Commands run nested from the callback or the pump may change the tables at any time.
TEST_P(AddDirectory, CommandsRunDuringTheWalkMayChangeTheTables) {
  for (int f = 0; f < 3; ++f) {
    testing_support::make_dirs(dir_.file("d" + std::to_string(f)));
    for (int i = 0; i < 5; ++i)
      song_file(dir_.file("d" + std::to_string(f) + "/" + std::to_string(i) + ".mp3"), 10 * f + i);
  }
  int n = 0;
  g_reply = [&n](const call& c) {
    if (c.level == -1) return 1;
    ++n;
    if (n % 3 == 0 && tables::filenum() > 0) tables::remove_file(0);
    if (n == 7) tables::clear();
    return 1;
  };
  EXPECT_EQ(walk(dir_.path()), 15);
  EXPECT_EQ(per_file_calls().size(), 15u);
  // Whatever is left is sound: every entry once, each with its file's digest.
  std::set<std::string> names = listed_names();
  EXPECT_EQ(names.size(), file_getfilenum());
  scan_test::expect_current_digests();
}

TEST_P(AddDirectory, WalkStartedFromTheCallbackContinuesTheSameCounts) {
  testing_support::TempDir other;
  song_file(other.file("o1.mp3"), 50);
  song_file(other.file("o2.mp3"), 51);
  song_file(dir_.file("a.mp3"), 1);
  song_file(dir_.file("b.mp3"), 2);
  bool nested_done = false;
  std::vector<call> nested;
  g_reply = [&](const call& c) {
    if (c.level == 1 && !nested_done) {
      nested_done = true;
      std::string path = other.path();
      size_t mark = g_calls.size();
      int r = add_directory(path.data(), scan_test::record, nullptr);
      nested.assign(g_calls.begin() + static_cast<long>(mark), g_calls.end());
      EXPECT_EQ(r, 3);  // the outer walk's first file plus the two of its own
    }
    return 1;
  };
  EXPECT_EQ(walk(dir_.path()), 4);
  ASSERT_EQ(nested.size(), 3u);
  EXPECT_EQ(nested[0].level, 2);
  EXPECT_EQ(nested[0].files_new, 2);
  EXPECT_EQ(nested[2].level, -1);
  EXPECT_EQ(file_getfilenum(), 4u);
  // And after the outer walk the counts are back to zero.
  scan_test::reset_recorder();
  tables::clear();
  EXPECT_EQ(walk(other.path()), 2);
  EXPECT_EQ(g_calls.front().files_new, 1);
  EXPECT_EQ(g_calls.front().level, 1);
}

TEST_P(AddDirectory, LinksLeadingBackUpTheTreeAreNotEnteredAgain) {
  testing_support::make_dirs(dir_.file("a/b"));
  song_file(dir_.file("top.mp3"), 1);
  song_file(dir_.file("a/b/deep.mp3"), 2);
  ASSERT_EQ(symlink(dir_.path().c_str(), dir_.file("a/b/to_root").c_str()), 0);
  ASSERT_EQ(symlink("..", dir_.file("a/b/up").c_str()), 0);
  ASSERT_EQ(symlink(".", dir_.file("a/self").c_str()), 0);
  ASSERT_EQ(symlink("loop2", dir_.file("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", dir_.file("loop2").c_str()), 0);
  // A link to a folder that is not above it is followed like a folder, but only where
  // the walk meets the folder first: one walk enters a folder once.
  testing_support::make_dirs(dir_.file("side"));
  ASSERT_EQ(symlink("../a/b", dir_.file("side/b_again").c_str()), 0);
  EXPECT_EQ(walk(dir_.path()), 2);
  std::set<std::string> names = listed_names();
  EXPECT_EQ(names.count(dir_.file("top.mp3")), 1u);
  EXPECT_EQ(
      names.count(dir_.file("a/b/deep.mp3")) + names.count(dir_.file("side/b_again/deep.mp3")), 1u);
  EXPECT_EQ(file_gethashnum(), 2u);
  // A folder met again is treated as one that cannot be listed: one finished call each
  // for the chosen folder, a, side and whichever way b was entered.
  int finished = 0;
  for (const call& c : g_calls) finished += c.level == -1;
  EXPECT_EQ(finished, 4);
}

// Each rung holds a song and two links to the next rung: 2^40 paths lead to the last one.
TEST_P(AddDirectory, LadderOfDoubledLinksIsWalkedOncePerFolder) {
  constexpr int kRungs = 40;
  for (int i = 0; i < kRungs; ++i) {
    const std::string rung = dir_.file("r" + std::to_string(i));
    testing_support::make_dirs(rung);
    song_file(rung + "/x.mp3", static_cast<uint32_t>(i + 1));
    if (i + 1 == kRungs) continue;
    const std::string next = "../r" + std::to_string(i + 1);
    ASSERT_EQ(symlink(next.c_str(), (rung + "/a").c_str()), 0);
    ASSERT_EQ(symlink(next.c_str(), (rung + "/b").c_str()), 0);
  }
  EXPECT_EQ(walk(dir_.path()), kRungs);
  EXPECT_EQ(file_getfilenum(), static_cast<uint32_t>(kRungs));
  EXPECT_EQ(file_gethashnum(), static_cast<uint32_t>(kRungs));
  int finished = 0;
  for (const call& c : g_calls) finished += c.level == -1;
  EXPECT_EQ(finished, kRungs + 1);
  scan_test::expect_current_digests();
}

TEST_P(AddDirectory, KernelFileSystemsAreNotEnteredBelowTheChosenFolder) {
  song_file(dir_.file("a.mp3"), 1);
  int links = 0;
  for (const char* target : {"/proc", "/sys", "/dev/pts", "/proc/self"}) {
    if (!platform::on_kernel_file_system(target)) continue;
    ASSERT_EQ(symlink(target, dir_.file("to" + std::to_string(links++)).c_str()), 0);
  }
  if (links == 0) GTEST_SKIP() << "no /proc, /sys or /dev/pts mounted here";
  EXPECT_EQ(walk(dir_.path()), 1);
  EXPECT_EQ(g_calls.size(), 2u);  // a.mp3 and the chosen folder finished: nothing below
  EXPECT_STREQ(db_getfileentry(0)->filename, dir_.file("a.mp3").c_str());
  EXPECT_FALSE(platform::on_kernel_file_system(dir_.path().c_str()));
}

TEST_P(AddDirectory, OddEntriesArePassedOverAndOddNamesWork) {
  ASSERT_EQ(mkfifo(dir_.file("pipe.mp3").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere.mp3", dir_.file("dangling.mp3").c_str()), 0);
  const std::vector<std::string> odd = {"new\nline.mp3", "\xff\xfe\x80 bad utf8.mp3",
                                        "  spaces  .mp3", "-dash.mp3", "%s%n.mp3"};
  for (size_t i = 0; i < odd.size(); ++i)
    song_file(dir_.file(odd[i]), static_cast<uint32_t>(i + 1));
  write_file(dir_.file("unreadable.mp3"), song(9));
  chmod(dir_.file("unreadable.mp3").c_str(), 0);  // refused unless running as root
  captured_output out;
  int added = walk(dir_.path());
  std::string text = out.text();
  EXPECT_NE(text.find("Warning file not found:" + dir_.file("pipe.mp3") + "\n"), std::string::npos);
  EXPECT_NE(text.find("Warning file not found:" + dir_.file("dangling.mp3") + "\n"),
            std::string::npos);
  std::set<std::string> names = listed_names();
  for (const std::string& n : odd) EXPECT_EQ(names.count(dir_.file(n)), 1u) << n;
  EXPECT_EQ(added, static_cast<int>(names.size()));
  EXPECT_EQ(per_file_calls().size(), odd.size() + 3);
  scan_test::expect_current_digests();
}

TEST_P(AddDirectory, FolderGoneOrTurnedFileBeforeItIsEnteredIsSkipped) {
  testing_support::make_dirs(dir_.file("sub"));
  song_file(dir_.file("sub/s.mp3"), 1);
  song_file(dir_.file("a.mp3"), 2);
  // sub is walked only if the listing meets it before a.mp3.
  std::vector<platform::dir_entry> listing;
  ASSERT_TRUE(platform::list_folder(dir_.path().c_str(), &listing));
  const bool sub_first = listing[0].name == "sub";
  g_reply = [&](const call& c) {
    if (c.name == "a.mp3") {
      std::filesystem::remove_all(dir_.file("sub"));
      write_file(dir_.file("sub"), "now a file");
    }
    return 1;
  };
  EXPECT_GE(walk(dir_.path()), 1);
  EXPECT_EQ(file_getfilenum(), sub_first ? 2u : 1u);
  EXPECT_EQ(g_calls.size(), sub_first ? 4u : 2u);
  EXPECT_EQ(g_calls.back().dir, dir_.path());
}

// Makes a chain of folders with long names below base through descriptors, so that the
// deepest paths exceed what the system accepts as one path.
void deep_chain(const std::string& base, int depth, const std::string& segment) {
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  bytes content = song(1);
  for (int i = 0; i < depth; ++i) {
    int file = openat(fd, "x.mp3", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(file);
    ASSERT_EQ(mkdirat(fd, segment.c_str(), 0755), 0);
    int next = openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    ASSERT_GE(fd, 0);
  }
  close(fd);
}

TEST_P(AddDirectory, PathsOfAnyLengthAreWalkedWhole) {
  const std::string segment(200, 'd');
  deep_chain(dir_.path(), 30, segment);  // about 6,000 bytes at the bottom
  captured_output out;
  EXPECT_EQ(walk(dir_.path()), 30);
  EXPECT_EQ(out.text(), "");
  // Entries keep full paths; the deepest can still be opened, digested and deleted by them.
  size_t longest = 0;
  for (uint32_t i = 0; db_getfileentry(i) != nullptr; ++i)
    longest = std::max(longest, strlen(db_getfileentry(i)->filename));
  EXPECT_GT(longest, static_cast<size_t>(PATH_MAX));
  EXPECT_EQ(file_gethashnum(), 1u);
  scan_test::expect_current_digests();
  const std::string deepest = per_file_calls().back().dir + "/x.mp3";
  ASSERT_GT(deepest.size(), static_cast<size_t>(PATH_MAX));
  EXPECT_EQ(getfilesize(deepest.c_str()), static_cast<int>(song(1).size()));
  EXPECT_EQ(delete_file(deepest.c_str()), 1);
  EXPECT_EQ(fileexists(deepest.c_str()), 0);
  EXPECT_EQ(file_add(deepest.c_str()), 0);
  EXPECT_EQ(out.text(), "Warning file not found:" + deepest + "\n");
  int base = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  scan_test::remove_deep_chain(base, segment);
  close(base);
}

TEST_P(AddDirectory, FileChangedDuringTheWalkIsAddedWithItsNewContent) {
  for (int i = 0; i < 8; ++i) song_file(dir_.file(std::to_string(i) + ".mp3"), 200 + i);
  scan_test::let_settle();
  std::set<std::string> seen;
  g_reply = [&](const call& c) {
    if (c.level == -1) return 1;
    seen.insert(c.name);
    if (seen.size() != 2) return 1;
    usleep(300 * 1000);  // give the workers time to hash the rest ahead
    int k = 0;
    for (int i = 0; i < 8; ++i) {
      std::string name = std::to_string(i) + ".mp3", path = dir_.file(name);
      if (seen.count(name)) continue;
      struct stat before;
      stat(path.c_str(), &before);
      bytes b = song(900 + i, "t");
      b.resize(static_cast<size_t>(before.st_size));
      if (k++ % 2 == 0) {
        // Rewritten in place with the same size and the old modification time.
        write_file(path, b);
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
      } else {
        // Replaced by another file of the same size and time.
        write_file(path + ".new", b);
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        utimensat(AT_FDCWD, (path + ".new").c_str(), times, 0);
        rename((path + ".new").c_str(), path.c_str());
      }
    }
    return 1;
  };
  // After the first entry the scout has had time to list the folder ahead.
  g_pumps = 0;
  mp3db_set_event_pump([](window_handle) {
    if (g_pumps++ == 0) usleep(200 * 1000);
  });
  EXPECT_EQ(walk(dir_.path()), 8);
  scan_test::expect_current_digests();
  EXPECT_EQ(file_gethashnum(), 8u);
  if (GetParam() > 1) {
    EXPECT_GE(folder_walk::last_walk_counters().rejected, 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(Hashers, AddDirectory, scan_test::both_worker_counts(),
                         scan_test::workers_name);

}  // namespace
