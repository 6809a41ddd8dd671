// Moving files on real disks: within one file system and across two (the test's folder and a
// tmpfs), never over a file, and a copy that fails for real (a file size limit) leaving the
// original whole and nothing behind.
#include "cleanup/file_move.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;

bytes content(size_t n, unsigned seed) {
  bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 131 + seed * 7) >> 3);
  return b;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

// A folder on another file system than the test's own, removed afterwards; empty where no
// second file system can be had.
class other_file_system {
 public:
  explicit other_file_system(const std::string& beside) {
    char pattern[] = "/dev/shm/varnelo-move-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    struct stat a, b;
    if (stat(pattern, &a) == 0 && stat(beside.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
      path_ = pattern;
    } else {
      rmdir(pattern);
    }
  }
  ~other_file_system() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(MoveIntoFolder, RenamesWithinAFileSystemButNeverOverAFile) {
  testing_support::TempDir dir;
  testing_support::make_dirs(dir.file("from/a"));
  testing_support::make_dirs(dir.file("from/b"));
  testing_support::make_dirs(dir.file("to"));
  testing_support::write_file(dir.file("from/a/song.mp3"), content(5000, 1));
  testing_support::write_file(dir.file("from/b/song.mp3"), content(6000, 2));

  cleanup::move_outcome out = cleanup::move_into_folder(dir.file("from/a/song.mp3"), dir.file("to/"));
  ASSERT_TRUE(out.moved) << out.reason;
  EXPECT_FALSE(out.copied);
  EXPECT_EQ(out.new_path, dir.file("to/song.mp3"));
  EXPECT_EQ(testing_support::read_file(dir.file("to/song.mp3")), content(5000, 1));
  EXPECT_FALSE(exists(dir.file("from/a/song.mp3")));

  // The same name from another folder: refused, both files as they were.
  out = cleanup::move_into_folder(dir.file("from/b/song.mp3"), dir.file("to"));
  EXPECT_FALSE(out.moved);
  EXPECT_NE(out.reason.find("already in"), std::string::npos) << out.reason;
  EXPECT_EQ(testing_support::read_file(dir.file("to/song.mp3")), content(5000, 1));
  EXPECT_EQ(testing_support::read_file(dir.file("from/b/song.mp3")), content(6000, 2));

  // Into its own folder, through a link to that folder; a link; a folder; a missing target.
  ASSERT_EQ(symlink(dir.file("to").c_str(), dir.file("to-link").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("to/song.mp3").c_str(), dir.file("from/link.mp3").c_str()), 0);
  for (const auto& [path, folder] : std::vector<std::pair<std::string, std::string>>{
           {dir.file("to/song.mp3"), dir.file("to-link")},
           {dir.file("from/link.mp3"), dir.file("to")},
           {dir.file("from/a"), dir.file("to")},
           {dir.file("from/b/song.mp3"), dir.file("nowhere")},
           {dir.file("from/b/gone.mp3"), dir.file("to")}}) {
    out = cleanup::move_into_folder(path, folder);
    EXPECT_FALSE(out.moved) << path;
    EXPECT_FALSE(out.reason.empty()) << path;
  }
  EXPECT_TRUE(exists(dir.file("from/link.mp3")));
  EXPECT_EQ(names_in(dir.file("to")), std::vector<std::string>{"song.mp3"});
}

TEST(MoveIntoFolder, AcrossFileSystemsCopiesVerifiesThenRemovesTheOriginal) {
  testing_support::TempDir dir;
  other_file_system other(dir.path());
  if (other.path().empty()) GTEST_SKIP() << "no second file system (a tmpfs at /dev/shm) here";
  const std::string source = other.path() + "/live take.mp3";
  const bytes data = content(3 * 1024 * 1024 + 17, 3);  // more than one piece of the copy
  testing_support::write_file(source, data);
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  const struct timespec times[2] = {{1000000000, 0}, {1234567890, 5000}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

  cleanup::move_outcome out = cleanup::move_into_folder(source, dir.path());
  ASSERT_TRUE(out.moved) << out.reason;
  EXPECT_TRUE(out.copied);
  EXPECT_EQ(out.new_path, dir.file("live take.mp3"));
  EXPECT_EQ(testing_support::read_file(out.new_path), data);
  EXPECT_FALSE(exists(source));
  struct stat st;
  ASSERT_EQ(stat(out.new_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"live take.mp3"});

  // Back again, onto a name that is taken there: refused, no temporary copy left.
  testing_support::write_file(source, content(100, 4));
  out = cleanup::move_into_folder(out.new_path, other.path());
  EXPECT_FALSE(out.moved);
  EXPECT_EQ(testing_support::read_file(source), content(100, 4));
  EXPECT_EQ(testing_support::read_file(dir.file("live take.mp3")), data);
  EXPECT_EQ(names_in(other.path()), std::vector<std::string>{"live take.mp3"});
}

TEST(MoveIntoFolder, ACopyThatCannotBeWrittenWholeLeavesTheOriginalAndNoCopy) {
  testing_support::TempDir dir;
  other_file_system other(dir.path());
  if (other.path().empty()) GTEST_SKIP() << "no second file system (a tmpfs at /dev/shm) here";
  const std::string source = other.path() + "/big.mp3";
  const bytes data = content(2 * 1024 * 1024, 5);
  testing_support::write_file(source, data);
  {
    // Writes past 1 MiB fail with EFBIG, as on a full disk the copy stops half way.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    sighandler_t old = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024 * 1024, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    const cleanup::move_outcome out = cleanup::move_into_folder(source, dir.path());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old);
    EXPECT_FALSE(out.moved);
    EXPECT_NE(out.reason.find("copy"), std::string::npos) << out.reason;
  }
  EXPECT_EQ(testing_support::read_file(source), data);
  EXPECT_TRUE(names_in(dir.path()).empty());
}

}  // namespace
