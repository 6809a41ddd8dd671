// Saving under faults: every step of a save failing in turn, a temporary file that cannot be
// made for any reason, no descriptors, full file systems, and writing in place only for a
// folder that refuses new files, with the space reserved first.
#include <errno.h>
#include <signal.h>
#include <string.h>
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

TEST_F(SafeSave, TemporaryFileThatCannotBeMadeFailsAndKeepsTheFile) {
  prepare();
  // No space, no inodes, quota, I/O, no descriptors, a name too long, no memory, and every
  // free name taken: none of them is a folder refusing files, so none is written in place.
  struct {
    int error;
    int nth;
  } cases[] = {{ENOSPC, 0}, {EDQUOT, 0},       {EIO, 0},    {EMFILE, 0},
               {ENFILE, 0}, {ENAMETOOLONG, 0}, {ENOMEM, 0}, {EEXIST, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strerror(c.error));
    save_faults::set({save_faults::kCreateTemp, c.nth, 0, c.error});
    errno = 0;
    EXPECT_EQ(file_closedb(), 0);
    EXPECT_EQ(errno, c.error);
    EXPECT_EQ(describe_store(), store_);
    expect_previous_file_kept();
    EXPECT_EQ(file_createdb(), 0);
    EXPECT_EQ(describe_store(), store_);
    expect_previous_file_kept();
  }
  EXPECT_EQ(save_faults::calls(save_faults::kCreateTemp), 100) << "every free name was tried";
  expect_later_save_writes_all();
}

TEST_F(SafeSave, NoFreeDescriptorKeepsThePreviousFile) {
  prepare();
  EXPECT_CHILD_PASSES(in_child([&]() -> std::string {
    // The lowest free descriptor becomes the limit: the next open fails with EMFILE.
    int lowest = dup(0);
    close(lowest);
    struct rlimit limit = {static_cast<rlim_t>(lowest), static_cast<rlim_t>(lowest)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return "cannot lower RLIMIT_NOFILE";
    errno = 0;
    if (file_closedb() != 0) return "the save succeeded without a descriptor";
    if (errno != EMFILE) return std::string("errno: ") + strerror(errno);
    if (describe_store() != store_) return "the store changed";
    return "";
  }));
  expect_previous_file_kept();
  expect_later_save_writes_all();
}

TEST_F(SafeSave, FolderThatRefusesNewFilesIsRewrittenInPlace) {
  prepare();
  struct stat before;
  ASSERT_EQ(stat(path("music.mp3db").c_str(), &before), 0);
  for (int error : {EACCES, EPERM, EROFS}) {
    SCOPED_TRACE(strerror(error));
    save_faults::set({save_faults::kCreateTemp, 0, 0, error});
    EXPECT_EQ(file_closedb(), 1);
    save_faults::reset();
    struct stat after;
    ASSERT_EQ(stat(path("music.mp3db").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written in place";
    ASSERT_EQ(file_opendb(), 1);
    EXPECT_EQ(describe_store(), store_);
  }
  // A shorter database written in place leaves nothing of the longer one behind.
  while (file_getfilenum() > 3) db_deletefileentry(0);
  const std::string shorter = describe_store();
  ASSERT_EQ(file_closedb(), 1);
  const bytes replaced = read_file(path("music.mp3db"));
  ASSERT_EQ(file_opendb(), 1);
  save_faults::set({save_faults::kCreateTemp, 0, 0, EACCES});
  ASSERT_EQ(file_closedb(), 1);
  EXPECT_EQ(read_file(path("music.mp3db")), replaced);
}

// As another user, in a folder that refuses new files while the file is writable: written
// in place with its space reserved, and refused where the space cannot be reserved.
TEST_F(SafeSave, InPlaceSaveNeedsTheWholeSpaceReservedFirst) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  prepare();
  std::string folder = path("locked");
  std::filesystem::create_directory(folder);
  std::string db = folder + "/shared.mp3db";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  file_setdb(db.c_str());
  struct {
    int error;  // of the reservation; 0: none fails
    int saved;
  } cases[] = {{0, 1}, {ENOSPC, 0}, {EDQUOT, 0}, {EOPNOTSUPP, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    write_file(db, previous_);
    ASSERT_EQ(chmod(db.c_str(), 0666), 0);
    EXPECT_CHILD_PASSES(in_child([&]() -> std::string {
      if (setgid(65534) != 0 || setuid(65534) != 0) return "cannot become user 65534";
      if (access(folder.c_str(), W_OK) == 0) return "the folder is writable";
      if (c.error != 0) save_faults::set({save_faults::kReserve, 0, 0, c.error});
      if (file_closedb() != c.saved) return "save result " + std::to_string(1 - c.saved);
      if (c.saved == 0 && describe_store() != store_) return "the store changed";
      return "";
    }));
    if (c.saved == 1) {
      ASSERT_EQ(file_opendb(), 1);
      EXPECT_EQ(describe_store(), store_);
    } else {
      EXPECT_EQ(read_file(db), previous_);
    }
  }
}

// Real file systems out of room, each a tmpfs of the child's own: no inodes for the
// temporary file (which used to send the save in place), no blocks, and a save in place
// as another user on a full disk.
TEST_F(SafeSave, FullFileSystemsKeepThePreviousFile) {
  prepare();
  for (const char* fault : {"inodes", "space", "space in place"}) {
    SCOPED_TRACE(fault);
    std::string folder = path(std::string("mount-") + fault);
    std::filesystem::create_directory(folder);
    EXPECT_CHILD_PASSES(in_child([&]() -> std::string {
      std::string mounted = mount_private_tmpfs(folder, "size=256k,nr_inodes=16,mode=0755");
      if (!mounted.empty()) return mounted;
      std::string db = folder + "/music.mp3db";
      write_file(db, previous_);
      file_setdb(db.c_str());
      bool in_place = strcmp(fault, "space in place") == 0;
      if (in_place && (chmod(dir_.path().c_str(), 0755) != 0 || chmod(db.c_str(), 0666) != 0))
        return "cannot open the file to all";
      fill_file_system(folder, strcmp(fault, "inodes") == 0);
      if (in_place && (setgid(65534) != 0 || setuid(65534) != 0)) return "cannot switch users";
      // More than the blocks the previous file already holds, which a save in place reuses.
      for (int i = 0; i < 100; ++i)
        add_entry("/music/more/" + std::string(100, 'x') + std::to_string(i), i);
      const std::string store = describe_store();
      errno = 0;
      if (file_closedb() != 0) return "the save succeeded";
      if (errno != ENOSPC) return std::string("errno: ") + strerror(errno);
      if (describe_store() != store) return "the store changed";
      if (read_file(db) != previous_) return "the previous file changed";
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name != "music.mp3db" && name.rfind("fill", 0) != 0) return "left behind: " + name;
      }
      if (file_opendb() != 1 || file_getfilenum() != 40) return "the previous file does not load";
      return "";
    }));
  }
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
