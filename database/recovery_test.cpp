// Recovery files: where the entries of a database go when it cannot be saved under its
// name, beside it or in the user's state folder, never replacing a file.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "database/store_fixture.h"

namespace {

using namespace store_testing;
using testing_support::read_file;
using testing_support::write_file;

class Recovery : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    const char* xdg = getenv("XDG_STATE_HOME");
    const char* home = getenv("HOME");
    saved_xdg_ = xdg != nullptr ? xdg : "";
    saved_home_ = home != nullptr ? home : "";
    setenv("XDG_STATE_HOME", path("state").c_str(), 1);
    for (int i = 0; i < 30; ++i) add_entry("/music/" + std::to_string(i) + ".mp3", i % 20);
    store_ = describe_store();
  }
  void TearDown() override {
    setenv("XDG_STATE_HOME", saved_xdg_.c_str(), 1);
    if (saved_xdg_.empty()) unsetenv("XDG_STATE_HOME");
    setenv("HOME", saved_home_.c_str(), 1);
    StoreTest::TearDown();
  }

  // What the file at name loads as, the store put back afterwards.
  std::string loads_as(const std::string& name) {
    std::string own = file_getdbname();
    std::string kept = describe_store();
    file_setdb(path("kept.mp3db").c_str());
    file_closedb();
    file_setdb(name.c_str());
    std::string loaded = file_opendb() == 1 ? describe_store() : "(does not load)";
    file_setdb(path("kept.mp3db").c_str());
    file_opendb();
    unlink(path("kept.mp3db").c_str());
    file_setdb(own.c_str());
    EXPECT_EQ(describe_store(), kept);
    return loaded;
  }

  // Saves the store through recovery and gives the path written ("" for none).
  std::string recover() {
    char* written = file_saverecovery();
    std::string result = written != nullptr ? written : "";
    free(written);
    return result;
  }

  std::string store_, saved_xdg_, saved_home_;
};

TEST_F(Recovery, BesideTheDatabaseWithoutReplacingAFile) {
  use("music.mp3db");
  write_file(path("music.mp3db"), database_bytes({}, {}));
  save_faults::set({save_faults::kRename, 0, 0, EIO});
  ASSERT_EQ(file_closedb(), 0);
  save_faults::reset();
  EXPECT_EQ(recover(), path("music.recovered.mp3db"));
  const bytes first = read_file(path("music.recovered.mp3db"));
  add_entry("/music/later.mp3", 3);
  const std::string later = describe_store();
  EXPECT_EQ(recover(), path("music.recovered-1.mp3db"));
  EXPECT_EQ(read_file(path("music.recovered.mp3db")), first);
  EXPECT_EQ(loads_as(path("music.recovered.mp3db")), store_);
  EXPECT_EQ(loads_as(path("music.recovered-1.mp3db")), later);
  // The store and its name are as they were, and the database file untouched.
  EXPECT_EQ(describe_store(), later);
  EXPECT_STREQ(file_getdbname(), path("music.mp3db").c_str());
  EXPECT_EQ(read_file(path("music.mp3db")), database_bytes({}, {}));
}

TEST_F(Recovery, InTheStateFolderWhenNothingCanBeWrittenBesideTheDatabase) {
  use("missing/music.mp3db");
  ASSERT_EQ(file_closedb(), 0);
  EXPECT_EQ(recover(), path("state/varnelo/music.recovered.mp3db"));
  EXPECT_EQ(loads_as(path("state/varnelo/music.recovered.mp3db")), store_);
  struct stat st;
  ASSERT_EQ(stat(path("state/varnelo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Without XDG_STATE_HOME: ~/.local/state.
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", path("home").c_str(), 1);
  EXPECT_EQ(recover(), path("home/.local/state/varnelo/music.recovered.mp3db"));

  // No folder to make: nothing written, and the store still holds everything.
  write_file(path("plain"), std::string("a file"));
  setenv("XDG_STATE_HOME", path("plain/state").c_str(), 1);
  EXPECT_EQ(recover(), "");
  EXPECT_EQ(describe_store(), store_);
}

// The database on a real full file system: its own folder has no room either, so the
// entries go to the state folder, on another file system.
TEST_F(Recovery, FullFileSystemSendsTheEntriesToTheStateFolder) {
  const std::string folder = path("full");
  std::filesystem::create_directory(folder);
  EXPECT_CHILD_PASSES(in_child([&]() -> std::string {
    std::string mounted = mount_private_tmpfs(folder, "size=64k,nr_inodes=16");
    if (!mounted.empty()) return mounted;
    const std::string db = folder + "/music.mp3db";
    write_file(db, database_bytes({}, {}));
    file_setdb(db.c_str());
    fill_file_system(folder, true);
    if (file_closedb() != 0) return "the save succeeded";
    std::string written = recover();
    if (written != path("state/varnelo/music.recovered.mp3db")) return "written to " + written;
    if (read_file(db) != database_bytes({}, {})) return "the database changed";
    if (loads_as(written) != store_) return "the recovery file does not hold the store";
    return "";
  }));
}

}  // namespace
