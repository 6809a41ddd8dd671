// Locks of databases between real processes: one holder at a time, named to the others; a
// holder that dies never blocks; the lock of a link is its target's and moves with the
// database; saves refused while another holds it; changes by another program noticed.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "database/store_fixture.h"
#include "tests/support/other_process.h"

namespace {

using namespace store_testing;
using testing_support::other_process;
using testing_support::read_file;
using testing_support::write_file;

class DatabaseLock : public StoreTest {
 protected:
  void TearDown() override {
    file_unlockdb();
    StoreTest::TearDown();
  }
  std::string text_of(const std::string& file) {
    bytes b = read_file(file);
    return std::string(b.begin(), b.end());
  }
};

TEST_F(DatabaseLock, OneHolderAtATimeNamedToTheOthers) {
  const std::string db = path("music.mp3db");
  other_process other;
  ASSERT_EQ(file_lockdb(db.c_str(), "lock_test"), 1);
  EXPECT_EQ(file_haslock(db.c_str()), 1);
  EXPECT_EQ(file_lockdb(db.c_str(), "lock_test"), 1) << "held already";
  EXPECT_EQ(text_of(path(".music.mp3db.lock")), "lock_test " + std::to_string(getpid()) + "\n");
  EXPECT_EQ(other.lock(db, "varnelo-cli"), 0);
  EXPECT_EQ(other.holder(), std::to_string(getpid()) + " lock_test");

  file_unlockdb();
  EXPECT_EQ(file_haslock(db.c_str()), 0);
  ASSERT_EQ(other.lock(db, "varnelo-cli"), 1);
  EXPECT_EQ(file_lockdb(db.c_str(), "lock_test"), 0);
  const char* program = nullptr;
  EXPECT_EQ(file_lockholder(&program), other.pid());
  EXPECT_STREQ(program, "varnelo-cli");
  EXPECT_EQ(file_haslock(db.c_str()), 0);

  // Without the lock this process may read the database but not write it.
  use("music.mp3db");
  add_entry("/music/a.mp3", 1);
  ASSERT_EQ(file_closedb(), 0);
  EXPECT_EQ(output(), "writing db data now.\ndatabase " + db +
                          " is in use by another program; not written\n");
  EXPECT_FALSE(std::filesystem::exists(db));
  EXPECT_EQ(file_getfilenum(), 1u);

  // A holder that dies, however, lets go at once.
  other.kill_hard();
  EXPECT_EQ(file_lockdb(db.c_str(), "lock_test"), 1);
  EXPECT_EQ(file_closedb(), 1);
}

TEST_F(DatabaseLock, LinkSharesItsTargetsLockAndTheLockMovesWithTheDatabase) {
  std::filesystem::create_directory(path("real"));
  const std::string real = path("real/music.mp3db");
  const std::string link = path("link.mp3db");
  const std::string second = path("second.mp3db");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  other_process other;
  ASSERT_EQ(file_lockdb(link.c_str(), "lock_test"), 1);
  EXPECT_TRUE(std::filesystem::exists(path("real/.music.mp3db.lock")));
  EXPECT_FALSE(std::filesystem::exists(path(".link.mp3db.lock")));
  EXPECT_EQ(file_haslock(real.c_str()), 1);
  EXPECT_EQ(other.lock(real, "other"), 0);

  // Taking the lock of another database lets the first one go.
  ASSERT_EQ(file_lockdb(second.c_str(), "lock_test"), 1);
  EXPECT_EQ(file_haslock(link.c_str()), 0);
  EXPECT_EQ(other.lock(link, "other"), 1);
  // A lock that cannot be had leaves the one held.
  EXPECT_EQ(file_lockdb(real.c_str(), "lock_test"), 0);
  EXPECT_EQ(file_haslock(second.c_str()), 1);
  EXPECT_EQ(other.lock(second, "other"), 0);
}

TEST_F(DatabaseLock, NoLockAndNoSaveWhereTheFolderIsMissing) {
  const std::string missing = path("no/such/folder/x.mp3db");
  errno = 0;
  EXPECT_EQ(file_lockdb(missing.c_str(), "lock_test"), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(file_writabledb(missing.c_str()), 0);
  EXPECT_EQ(errno, ENOENT);
  std::filesystem::create_directory(path("folder.mp3db"));
  errno = 0;
  EXPECT_EQ(file_writabledb(path("folder.mp3db").c_str()), 0);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(file_writabledb(path("new.mp3db").c_str()), 1);
  write_file(path("old.mp3db"), database_bytes({}, {}));
  EXPECT_EQ(file_writabledb(path("old.mp3db").c_str()), 1);
}

// Users who may not add files to the folder save in place, so the database file itself,
// which stays the same file, carries their lock.
TEST_F(DatabaseLock, FolderThatRefusesNewFilesLocksTheDatabaseItself) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  std::filesystem::create_directory(path("shared"));
  const std::string db = path("shared/music.mp3db");
  write_file(db, database_bytes({}, {}));
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path("shared").c_str(), 0755), 0);
  ASSERT_EQ(chmod(db.c_str(), 0666), 0);
  other_process first, second;
  ASSERT_EQ(first.become(65534), 1);
  ASSERT_EQ(second.become(65534), 1);
  EXPECT_EQ(first.lock(db, "first"), 1);
  EXPECT_FALSE(std::filesystem::exists(path("shared/.music.mp3db.lock")));
  EXPECT_EQ(second.lock(db, "second"), 0);
  EXPECT_EQ(second.holder(), "0 ") << "the database file holds no holder's line";
  first.kill_hard();
  EXPECT_EQ(second.lock(db, "second"), 1);
  EXPECT_EQ(read_file(db), database_bytes({}, {}));
}

TEST_F(DatabaseLock, ChangesByAnotherProgramAreNoticed) {
  const std::string db = path("music.mp3db");
  const std::string song = path("song.mp3");
  write_file(song, std::string(3000, 's'));
  use("music.mp3db");
  EXPECT_EQ(file_dbchanged(), 1) << "neither read nor written yet";
  EXPECT_EQ(file_opendb(), 0);
  EXPECT_EQ(file_dbchanged(), 0) << "missing, as it was found";
  add_entry("/music/a.mp3", 1);
  ASSERT_EQ(file_closedb(), 1);
  EXPECT_EQ(file_dbchanged(), 0);

  other_process other;
  ASSERT_EQ(other.add_and_save(db, song), 1);
  EXPECT_EQ(file_dbchanged(), 1);
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(file_dbchanged(), 0);
  EXPECT_EQ(file_getfilenum(), 2u);
  ASSERT_EQ(unlink(db.c_str()), 0);
  EXPECT_EQ(file_dbchanged(), 1);
}

}  // namespace
