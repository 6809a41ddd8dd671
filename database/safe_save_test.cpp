// Saving under faults: every write, flush, sync, close and rename of a save failing in
// turn, a full file system, and the fallback to writing in place.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "database/store_fixture.h"

namespace {

using namespace store_testing;
using testing_support::read_file;
using testing_support::write_file;

class SafeSave : public StoreTest {
 protected:
  // Saves a database of 40 entries under music.mp3db, then loads it and adds 20 more, so
  // that the file on disk and the store differ.
  void prepare() {
    use("music.mp3db");
    for (int i = 0; i < 40; ++i) add_entry("/music/old/" + std::to_string(i) + ".mp3", i % 30);
    ASSERT_EQ(file_closedb(), 1);
    previous_ = read_file(path("music.mp3db"));
    ASSERT_EQ(file_opendb(), 1);
    for (int i = 0; i < 20; ++i) add_entry("/music/new/" + std::to_string(i) + ".mp3", 25 + i);
    store_ = describe_store();
    output();
  }

  // The previous file is in place and nothing else was left in the folder.
  void expect_previous_file_kept() {
    EXPECT_EQ(read_file(path("music.mp3db")), previous_);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      (void)entry;
      ++files;
    }
    EXPECT_EQ(files, 1u) << "a temporary file was left behind";
  }

  // A later save without faults writes every entry of the store.
  void expect_later_save_writes_all() {
    save_faults::reset();
    ASSERT_EQ(file_closedb(), 1);
    ASSERT_EQ(file_opendb(), 1);
    EXPECT_EQ(describe_store(), store_);
  }

  bytes previous_;
  std::string store_;
};

TEST_F(SafeSave, EveryFailingStepOfCloseKeepsThePreviousFile) {
  prepare();
  // Small chunks make a save take many writes; each of them fails once.
  int writes = 0;
  for (int nth = 0;; ++nth) {
    save_faults::set({save_faults::kWrite, nth, 64});
    if (file_closedb() == 1) break;
    writes = nth + 1;
    EXPECT_EQ(output(), "writing db data now.\n");
    EXPECT_EQ(describe_store(), store_) << "write " << nth;
    expect_previous_file_kept();
    ASSERT_LT(nth, 1000);
  }
  EXPECT_GT(writes, 20);
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), store_);
  previous_ = read_file(path("music.mp3db"));
  output();
  for (save_faults::step s :
       {save_faults::kFlush, save_faults::kSync, save_faults::kClose, save_faults::kRename}) {
    SCOPED_TRACE(s);
    save_faults::set({s, 0, 0});
    EXPECT_EQ(file_closedb(), 0);
    EXPECT_EQ(output(), "writing db data now.\n");
    EXPECT_EQ(describe_store(), store_);
    expect_previous_file_kept();
  }
  expect_later_save_writes_all();
}

TEST_F(SafeSave, EveryFailingStepOfCreateKeepsThePreviousFile) {
  prepare();
  struct {
    save_faults::step step;
    const char* message;
  } cases[] = {{save_faults::kWrite, "error:0\n"},
               {save_faults::kFlush, "error:16\n"},
               {save_faults::kSync, "error:16\n"},
               {save_faults::kClose, "error:16\n"},
               {save_faults::kRename, "error:16\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    ASSERT_EQ(file_opendb(), 1);
    output();
    save_faults::set({c.step, 0, 0});
    EXPECT_EQ(file_createdb(), 0);
    EXPECT_EQ(output(), c.message);
    EXPECT_EQ(file_getfilenum(), 0u);  // the store is emptied before the header is written
    expect_previous_file_kept();
  }
  save_faults::reset();
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(file_getfilenum(), 40u);
  EXPECT_EQ(file_createdb(), 1);
  bytes created(16, 0);
  format::put_u32(created.data(), format::kMagic);
  created[12] = 100;
  EXPECT_EQ(read_file(path("music.mp3db")), created);
}

TEST_F(SafeSave, FullFileSystemKeepsThePreviousDatabase) {
  prepare();
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Room for the previous file but not for the new one; writes beyond fail with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {previous_.size() + 100, previous_.size() + 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    if (file_closedb() != 0) _exit(3);
    if (describe_store() != store_) _exit(4);
    if (file_createdb() != 1) _exit(5);  // 16 bytes still fit
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(path("music.mp3db")).size(), 16u);
  // In this process the store is as before and the save goes through.
  write_file(path("music.mp3db"), previous_);
  expect_later_save_writes_all();
}

TEST_F(SafeSave, WritesInPlaceWhenNoFileCanBeMadeBesideTheDatabase) {
  prepare();
  save_faults::set({save_faults::kCreateTemp, 0, 0});
  EXPECT_EQ(file_closedb(), 1);
  save_faults::reset();
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), store_);

  // The same with a real folder that another user may not write while the file is theirs.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  std::string folder = path("locked");
  std::filesystem::create_directory(folder);
  std::string db = folder + "/shared.mp3db";
  write_file(db, previous_);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(db.c_str(), 0666), 0);
  file_setdb(db.c_str());
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    if (access(folder.c_str(), W_OK) == 0) _exit(3);
    _exit(file_closedb() == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), store_);
}

TEST_F(SafeSave, ReplacingKeepsModeAndSymbolicLinks) {
  prepare();
  ASSERT_EQ(chmod(path("music.mp3db").c_str(), 0640), 0);
  ASSERT_EQ(symlink("music.mp3db", path("link.mp3db").c_str()), 0);
  use("link.mp3db");
  ASSERT_EQ(file_closedb(), 1);
  struct stat st;
  ASSERT_EQ(lstat(path("link.mp3db").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(path("music.mp3db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  use("music.mp3db");
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(describe_store(), store_);
}

}  // namespace
