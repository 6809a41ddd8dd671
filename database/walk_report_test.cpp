// mp3db_get_walk_report: a walk counts the folders it could not list and the files it could
// not read, names the first ones with their reason, and leaves out on purpose what its rules
// leave out.
#include "database/walk_report.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "database/mp3_db.h"
#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::write_file;

std::string song(uint32_t seed) {
  testing_support::mp3_parts p;
  p.audio = testing_support::random_bytes(1500, seed);
  testing_support::bytes b = testing_support::make_mp3(p);
  return std::string(b.begin(), b.end());
}

// The report as text: the counts, then one "folder|file errno path" line per named problem.
std::string report_text() {
  mp3db_walk_report r;
  mp3db_get_walk_report(&r);
  std::ostringstream out;
  out << r.folders_unlisted << " " << r.files_unread << " " << r.named << "\n";
  for (uint32_t i = 0; i < r.named; ++i)
    out << (r.problems[i].is_folder ? "folder " : "file ") << r.problems[i].error_number << " "
        << r.problems[i].path << "\n";
  return out.str();
}

// Walks dir as a user who may not list a folder of mode 0 (as the unprivileged user 65534
// in a child process when running as root) and gives the report as text.
std::string walk_as_a_user(const std::string& dir) {
  return scan_test::in_child(true, [&] {
    std::string buffer = dir;
    add_directory(buffer.data(), nullptr, nullptr);
    return report_text();
  });
}

class WalkReport : public scan_test::scan_fixture {
 protected:
  void SetUp() override {
    scan_test::scan_fixture::SetUp();
    chmod(dir_.path().c_str(), 0755);
  }
  testing_support::TempDir dir_;
  scan_test::captured_output quiet_;
};

TEST_F(WalkReport, CountsWhatCouldNotBeTakenAndNamesTheFirst) {
  const std::string tree = dir_.path();
  testing_support::make_dirs(tree + "/closed");
  write_file(tree + "/closed/in.mp3", song(1));
  ASSERT_EQ(chmod((tree + "/closed").c_str(), 0), 0);
  write_file(tree + "/ok.mp3", song(2));
  ASSERT_EQ(mkfifo((tree + "/pipe.mp3").c_str(), 0644), 0);
  for (int i = 0; i < 8; ++i)
    ASSERT_EQ(symlink("nowhere", (tree + "/dangling" + std::to_string(i) + ".mp3").c_str()), 0);
  // 2 GiB and more, without a byte on disk.
  int fd = open((tree + "/huge.mp3").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{1} << 31), 0);
  close(fd);
  // Left out by the rules, not for want of reading: none of these is counted.
  testing_support::make_dirs(tree + "/folder.mp3");
  write_file(tree + "/tags-only.mp3", testing_support::id3v1_tag("only a tag"));
  write_file(tree + "/notes.txt", "not a song");

  std::istringstream text(walk_as_a_user(tree));
  uint32_t folders = 0, files = 0, named = 0;
  text >> folders >> files >> named;
  EXPECT_EQ(folders, 1u) << text.str();
  EXPECT_EQ(files, 10u) << text.str();  // the FIFO, eight dangling links, the huge file
  EXPECT_EQ(named, static_cast<uint32_t>(mp3db_walk_named));
  std::set<std::string> want = {"folder " + std::to_string(EACCES) + " " + tree + "/closed",
                                "file " + std::to_string(EINVAL) + " " + tree + "/pipe.mp3",
                                "file " + std::to_string(EFBIG) + " " + tree + "/huge.mp3"};
  for (int i = 0; i < 8; ++i)
    want.insert("file " + std::to_string(ENOENT) + " " + tree + "/dangling" + std::to_string(i) +
                ".mp3");
  std::string line;
  std::getline(text, line);
  std::set<std::string> seen;
  while (std::getline(text, line)) {
    EXPECT_EQ(want.count(line), 1u) << line;
    seen.insert(line);
  }
  EXPECT_EQ(seen.size(), named);
}

TEST_F(WalkReport, EachWalkStartsAFreshReportAndAWalkFromTheCallbackAddsToIt) {
  testing_support::TempDir other;
  ASSERT_EQ(symlink("nowhere", other.file("gone.mp3").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir_.file("lost.mp3").c_str()), 0);
  write_file(dir_.file("ok.mp3"), song(3));
  std::string path = dir_.path();
  bool nested = false;
  scan_test::g_reply = [&](const scan_test::call& c) {
    if (c.level == 1 && !nested) {
      nested = true;
      std::string inner = other.path();
      add_directory(inner.data(), nullptr, nullptr);
    }
    return 1;
  };
  add_directory(path.data(), scan_test::record, nullptr);
  mp3db_walk_report r;
  mp3db_get_walk_report(&r);
  EXPECT_EQ(r.files_unread, 2u);
  EXPECT_EQ(r.folders_unlisted, 0u);

  path = other.path();
  add_directory(path.data(), nullptr, nullptr);
  mp3db_get_walk_report(&r);
  ASSERT_EQ(r.files_unread, 1u);
  ASSERT_EQ(r.named, 1u);
  EXPECT_EQ(std::string(r.problems[0].path), other.file("gone.mp3"));
  EXPECT_EQ(r.problems[0].is_folder, 0);

  path = dir_.file("missing");
  EXPECT_EQ(add_directory(path.data(), nullptr, nullptr), 0);
  mp3db_get_walk_report(&r);
  EXPECT_EQ(r.folders_unlisted, 1u);
  EXPECT_EQ(r.files_unread, 0u);
  EXPECT_EQ(r.problems[0].error_number, ENOENT);
}

}  // namespace
