// Folder trees built to trip a scan up, scanned into a database that already holds
// entries: every scan finishes, adds exactly the regular files that can be read by their
// path, and after saving and loading again every earlier entry is still there.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>

#include "database/mp3_db.h"
#include "database/scan_test_util.h"
#include "database/tables.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::write_file;

bytes song(uint32_t seed) {
  testing_support::mp3_parts p;
  p.has_id3v2 = true;
  p.id3v2_body = 40 + seed % 30;
  p.audio = testing_support::random_bytes(1500 + seed % 500, seed);
  p.has_id3v1 = true;
  p.title = "song " + std::to_string(seed);
  return testing_support::make_mp3(p);
}

// path -> digest as hex, for every entry of the store.
std::map<std::string, std::string> store_contents() {
  std::map<std::string, std::string> out;
  for (uint32_t i = 0; i < file_getfilenum(); ++i) {
    const fileentry* e = db_getfileentry(i);
    out[e->filename] = testing_support::hex(db_gethashentry(static_cast<uint32_t>(e->hashid)));
  }
  return out;
}

class HostileTree : public scan_test::workers_fixture {
 protected:
  HostileTree() : workers_fixture(900) {}
  void SetUp() override {
    scan_test::workers_fixture::SetUp();
    // A database of earlier entries, saved and loaded again before each scan.
    ASSERT_EQ(chmod(lib_.path().c_str(), 0777), 0);
    const std::vector<std::string> names = {"one.mp3", "two\nlines.mp3", "\xe9t\xe9.mp3"};
    for (size_t i = 0; i < names.size(); ++i) {
      write_file(lib_.file(names[i]), song(static_cast<uint32_t>(900 + i)));
      ASSERT_EQ(file_add(lib_.file(names[i]).c_str()), 1);
    }
    db_ = lib_.file("music.mp3db");
    file_setdb(db_.c_str());
    ASSERT_EQ(file_closedb(), 1);
    ASSERT_EQ(chmod(db_.c_str(), 0666), 0);
    ASSERT_EQ(file_opendb(), 1);
    earlier_ = store_contents();
    ASSERT_EQ(earlier_.size(), names.size());
  }
  int scan(const std::string& dir) {
    std::string buffer = dir;
    return add_directory(buffer.data(), scan_test::record, nullptr);
  }

  // Saves and loads the database again; the store must then hold the earlier entries
  // unchanged and, besides them, exactly the files in added (each with its digest now).
  void expect_saved_with(const std::set<std::string>& added) {
    const std::map<std::string, std::string> before = store_contents();
    ASSERT_EQ(file_closedb(), 1);
    ASSERT_EQ(file_opendb(), 1);
    const std::map<std::string, std::string> after = store_contents();
    EXPECT_EQ(after, before);
    for (const auto& [name, digest] : earlier_) {
      auto it = after.find(name);
      ASSERT_NE(it, after.end()) << "lost " << name;
      EXPECT_EQ(it->second, digest) << name;
    }
    std::set<std::string> fresh;
    for (const auto& entry : after)
      if (!earlier_.count(entry.first)) fresh.insert(entry.first);
    EXPECT_EQ(fresh, added);
    scan_test::expect_current_digests();
  }

  testing_support::TempDir lib_;
  testing_support::TempDir tree_;
  std::string db_;
  std::map<std::string, std::string> earlier_;  // path -> digest before the scan
  scan_test::captured_output quiet_;
};

TEST_P(HostileTree, LinkLoopsAndLinksUpTheTree) {
  testing_support::make_dirs(tree_.file("a/b"));
  write_file(tree_.file("top.mp3"), song(1));
  write_file(tree_.file("a/b/deep.mp3"), song(2));
  ASSERT_EQ(symlink("..", tree_.file("a/b/up").c_str()), 0);
  ASSERT_EQ(symlink(".", tree_.file("a/self").c_str()), 0);
  ASSERT_EQ(symlink(tree_.path().c_str(), tree_.file("a/b/root").c_str()), 0);
  ASSERT_EQ(symlink("loop2", tree_.file("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", tree_.file("loop2").c_str()), 0);
  ASSERT_EQ(symlink("loop1", tree_.file("loop.mp3").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tree_.file("dangling.mp3").c_str()), 0);
  EXPECT_EQ(scan(tree_.path()), 2);
  expect_saved_with({tree_.file("top.mp3"), tree_.file("a/b/deep.mp3")});
}

// The whole system through one link: /proc and /sys are not entered, every other folder
// once. Files outside this tree are not worth hashing here, so the callback winds each
// foreign folder down after its first ".mp3".
TEST_P(HostileTree, LinkToTheSystemRootFinishes) {
  testing_support::make_dirs(tree_.file("mine"));
  write_file(tree_.file("mine/own.mp3"), song(3));
  ASSERT_EQ(symlink("/", tree_.file("root").c_str()), 0);
  const std::string own = tree_.file("mine");
  scan_test::g_reply = [&](const scan_test::call& c) {
    return c.level == -1 || c.dir == own ? 1 : 0;
  };
  scan(tree_.path());
  std::set<std::string> dirs;
  for (const scan_test::call& c : scan_test::g_calls) dirs.insert(c.dir);
  EXPECT_TRUE(dirs.count(tree_.file("root")));  // the root was walked
  for (const char* kernel : {"/root/proc", "/root/sys", "/root/dev/pts"})
    for (const std::string& d : dirs) EXPECT_NE(d.rfind(tree_.path() + kernel, 0), 0u) << d;
  std::map<std::string, std::string> now = store_contents();
  EXPECT_TRUE(now.count(tree_.file("mine/own.mp3")));
  for (const auto& entry : now) {
    if (!earlier_.count(entry.first)) {
      EXPECT_EQ(entry.first.rfind(tree_.path(), 0), 0u);
    }
  }
  // Foreign files come and go with whatever else runs here: only the earlier entries and
  // this tree's own file are checked after the save.
  ASSERT_EQ(file_closedb(), 1);
  ASSERT_EQ(file_opendb(), 1);
  std::map<std::string, std::string> after = store_contents();
  EXPECT_EQ(after.size(), now.size());
  for (const auto& [name, digest] : earlier_) EXPECT_EQ(after[name], digest) << name;
  EXPECT_TRUE(after.count(tree_.file("mine/own.mp3")));
}

TEST_P(HostileTree, FolderOfAHundredThousandEntries) {
  constexpr int kEntries = 100000;
  const std::string big = tree_.file("big");
  testing_support::make_dirs(big);
  std::set<std::string> added;
  char name[32];
  for (int i = 0; i < kEntries; ++i) {
    // Every tenth entry is something else than a song.
    snprintf(name, sizeof name, i % 10 == 9 ? "%06d.txt" : "%06d.mp3", i);
    const std::string path = big + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, &i, sizeof i), static_cast<ssize_t>(sizeof i));
    close(fd);
    if (i % 10 != 9) added.insert(path);
  }
  EXPECT_EQ(scan(tree_.path()), static_cast<int>(added.size()));
  expect_saved_with(added);
}

// Builds folders with long names below base through descriptors, a file in each, so the
// deepest paths are longer than the system accepts; returns every file path made.
std::vector<std::string> deep_chain(const std::string& base, int depth, const std::string& segment,
                                    const bytes& content) {
  std::vector<std::string> made;
  std::string at = base;
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < depth && fd >= 0; ++i) {
    int file = openat(fd, "x.mp3", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || write(file, content.data(), content.size()) < 0) ADD_FAILURE() << i;
    close(file);
    made.push_back(at + "/x.mp3");
    if (mkdirat(fd, segment.c_str(), 0755) != 0) ADD_FAILURE() << i;
    int next = openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    at += "/" + segment;
  }
  if (fd >= 0) close(fd);
  return made;
}

TEST_P(HostileTree, PathsOfFourThousandBytesAndMore) {
  const std::string segment(200, 'p');
  const std::vector<std::string> made = deep_chain(tree_.path(), 26, segment, song(4));
  const std::set<std::string> added(made.begin(), made.end());
  const size_t past_the_limit = static_cast<size_t>(std::count_if(
      made.begin(), made.end(), [](const std::string& p) { return p.size() >= PATH_MAX; }));
  ASSERT_GE(past_the_limit, 5u);  // too long for the system to take as one path
  EXPECT_EQ(scan(tree_.path()), static_cast<int>(added.size()));
  mp3db_walk_report report;
  mp3db_get_walk_report(&report);
  EXPECT_EQ(report.folders_unlisted + report.files_unread, 0u);
  // Saved, loaded again, and every file found again by its full path (clean drops none).
  expect_saved_with(added);
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(file_getfilenum(), earlier_.size() + added.size());
  int base = open(tree_.path().c_str(), O_RDONLY | O_DIRECTORY);
  scan_test::remove_deep_chain(base, segment);
  close(base);
}

TEST_P(HostileTree, NamesWithNewlinesControlsAndInvalidUtf8) {
  const std::vector<std::string> names = {"new\nline.mp3",
                                          "\xff\xfe\x80.mp3",
                                          "tab\there.mp3",
                                          "cr\r.mp3",
                                          "-starts-dash.mp3",
                                          "back\\slash.mp3",
                                          "%s%n%x.mp3",
                                          "\x1b[31mred.mp3",
                                          " .mp3",
                                          std::string(251, 'n') + ".mp3"};
  testing_support::make_dirs(tree_.file("\n\xc3("));
  std::set<std::string> added;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string path = tree_.file((i % 2 ? "\n\xc3(/" : "") + names[i]);
    write_file(path, song(static_cast<uint32_t>(10 + i)));
    added.insert(path);
  }
  EXPECT_EQ(scan(tree_.path()), static_cast<int>(added.size()));
  expect_saved_with(added);
}

TEST_P(HostileTree, FifosDevicesSocketsAndFoldersNamedMp3) {
  write_file(tree_.file("real.mp3"), song(5));
  ASSERT_EQ(mkfifo(tree_.file("fifo.mp3").c_str(), 0666), 0);
  ASSERT_EQ(symlink("/dev/null", tree_.file("null.mp3").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", tree_.file("zero.mp3").c_str()), 0);
  testing_support::make_dirs(tree_.file("folder.mp3"));
  if (mknod(tree_.file("device.mp3").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    std::cout << "[  NOTE    ] no character device made here (" << strerror(errno)
              << "); links to /dev/null and /dev/zero stand in\n";
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = tree_.file("socket.mp3");
  if (sock_path.size() < sizeof addr.sun_path) {
    memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
    EXPECT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  EXPECT_EQ(scan(tree_.path()), 1);
  close(sock);
  expect_saved_with({tree_.file("real.mp3")});
}

// Between the folder's listing and the reading of its files (with workers, after they have
// hashed ahead), files are deleted, truncated, or replaced by a folder, a FIFO or a link.
TEST_P(HostileTree, FilesChangedBetweenListingAndHashing) {
  constexpr int kFiles = 9;
  for (int i = 0; i < kFiles; ++i)
    write_file(tree_.file(std::to_string(i) + ".mp3"), song(static_cast<uint32_t>(20 + i)));
  scan_test::let_settle();
  std::set<std::string> added;
  bool changed = false;
  scan_test::g_reply = [&](const scan_test::call& c) {
    if (c.level == -1 || changed) return 1;
    changed = true;
    added.insert(c.dir + "/" + c.name);
    usleep(300 * 1000);  // lets the workers hash the rest ahead
    int role = 0;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = std::to_string(i) + ".mp3", path = tree_.file(name);
      if (name == c.name) continue;
      switch (role++) {
        case 0:
          unlink(path.c_str());
          break;
        case 1:
          EXPECT_EQ(truncate(path.c_str(), 0), 0);  // an empty file has a digest too
          added.insert(path);
          break;
        case 2:
          EXPECT_EQ(truncate(path.c_str(), 700), 0);
          added.insert(path);
          break;
        case 3:
          unlink(path.c_str());
          mkdir(path.c_str(), 0755);
          break;
        case 4:
          unlink(path.c_str());
          mkfifo(path.c_str(), 0666);
          break;
        case 5:
          unlink(path.c_str());
          EXPECT_EQ(symlink("/dev/zero", path.c_str()), 0);
          break;
        case 6:
          write_file(path, song(99));  // rewritten with other content
          added.insert(path);
          break;
        default:
          added.insert(path);
      }
    }
    return 1;
  };
  scan(tree_.path());
  ASSERT_TRUE(changed);
  expect_saved_with(added);
}

// Runs as an unprivileged user (root reads everything): folders and files that user may
// not read are passed over, the rest is added, and the save keeps everything.
TEST_P(HostileTree, UnreadableFoldersAndFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to the unprivileged user 65534";
  testing_support::make_dirs(tree_.file("open"));
  testing_support::make_dirs(tree_.file("locked"));
  testing_support::make_dirs(tree_.file("search_only"));
  write_file(tree_.file("open/ok.mp3"), song(30));
  write_file(tree_.file("open/secret.mp3"), song(31));
  write_file(tree_.file("locked/hidden.mp3"), song(32));
  write_file(tree_.file("search_only/unlisted.mp3"), song(33));
  write_file(tree_.file("top.mp3"), song(34));
  ASSERT_EQ(chmod(tree_.file("open/secret.mp3").c_str(), 0), 0);
  ASSERT_EQ(chmod(tree_.file("locked").c_str(), 0), 0);
  ASSERT_EQ(chmod(tree_.file("search_only").c_str(), 0111), 0);
  ASSERT_EQ(chmod(tree_.path().c_str(), 0755), 0);
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(600);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    if (access(tree_.file("locked").c_str(), R_OK) == 0) _exit(3);  // still privileged
    std::string dir = tree_.path();
    const int added = add_directory(dir.data(), nullptr, nullptr);
    _exit(added == 2 && file_closedb() == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(file_opendb(), 1);  // what the unprivileged scan saved
  std::set<std::string> fresh;
  for (const auto& entry : store_contents())
    if (!earlier_.count(entry.first)) fresh.insert(entry.first);
  EXPECT_EQ(fresh, (std::set<std::string>{tree_.file("open/ok.mp3"), tree_.file("top.mp3")}));
  expect_saved_with(fresh);
}

INSTANTIATE_TEST_SUITE_P(Hashers, HostileTree, scan_test::both_worker_counts(),
                         scan_test::workers_name);

}  // namespace
