// Every step of a save failing at each of its calls in turn: afterwards the database file
// loads and holds exactly the previous database when the save reported failure (the store
// then still holds every entry), or exactly the new one when it reported success.
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

class SaveFaultSweep : public StoreTest {
 protected:
  // music.mp3db holds 40 entries; the store holds those and 20 more, also saved whole
  // under full.mp3db to restore the store from.
  void SetUp() override {
    StoreTest::SetUp();
    use("music.mp3db");
    for (int i = 0; i < 40; ++i) add_entry("/music/old/" + std::to_string(i) + ".mp3", i % 30);
    ASSERT_EQ(file_closedb(), 1);
    ASSERT_EQ(file_opendb(), 1);
    previous_store_ = describe_store();
    previous_ = read_file(path("music.mp3db"));
    for (int i = 0; i < 20; ++i) add_entry("/music/new/\n" + std::to_string(i) + ".mp3", 25 + i);
    store_ = describe_store();
    // A clean save in small chunks tells how often each step runs.
    use("full.mp3db");
    save_faults::set({save_faults::kNone, 0, 64});
    ASSERT_EQ(file_closedb(), 1);
    for (int s = save_faults::kCreateTemp; s < save_faults::kStepCount; ++s)
      calls_[s] = save_faults::calls(static_cast<save_faults::step>(s));
    save_faults::reset();
    restore_store();
  }

  void restore_store() {
    use("full.mp3db");
    ASSERT_EQ(file_opendb(), 1);
    ASSERT_EQ(describe_store(), store_);
    use("music.mp3db");
  }

  // What the file at music.mp3db loads as, read through a copy so the store stays.
  std::string loaded_from_disk() {
    write_file(path("check.mp3db"), read_file(path("music.mp3db")));
    use("check.mp3db");
    std::string loaded = file_opendb() == 1 ? describe_store() : "(does not load)";
    unlink(path("check.mp3db").c_str());
    return loaded;
  }

  // Nothing but the two databases is left in the folder: no temporary file.
  void expect_no_leftovers() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename();
      EXPECT_TRUE(name == "music.mp3db" || name == "full.mp3db") << name;
    }
  }

  bytes previous_;
  std::string previous_store_, store_;
  int calls_[save_faults::kStepCount] = {};
};

TEST_F(SaveFaultSweep, CloseLeavesThePreviousOrTheWholeNewDatabase) {
  EXPECT_GT(calls_[save_faults::kWrite], 20);
  int failures = 0, injected = 0;
  for (int s = save_faults::kCreateTemp; s < save_faults::kStepCount; ++s) {
    for (int nth = 0; nth < calls_[s]; ++nth) {
      SCOPED_TRACE("step " + std::to_string(s) + " call " + std::to_string(nth));
      write_file(path("music.mp3db"), previous_);
      save_faults::set({static_cast<save_faults::step>(s), nth, 64});
      const int saved = file_closedb();
      save_faults::reset();
      ++injected;
      if (saved == 1) {
        EXPECT_EQ(loaded_from_disk(), store_);
        restore_store();
      } else {
        ++failures;
        EXPECT_EQ(describe_store(), store_);
        EXPECT_EQ(read_file(path("music.mp3db")), previous_);
        EXPECT_EQ(loaded_from_disk(), previous_store_);
        restore_store();
      }
      expect_no_leftovers();
    }
  }
  // Only a folder that refuses the temporary file is got around (by writing in place).
  EXPECT_EQ(failures, calls_[save_faults::kReserve] + calls_[save_faults::kWrite] +
                          calls_[save_faults::kFlush] +
                          calls_[save_faults::kSync] + calls_[save_faults::kClose] +
                          calls_[save_faults::kRename]);
  RecordProperty("faults_injected", injected);
  ASSERT_EQ(file_closedb(), 1);
  EXPECT_EQ(loaded_from_disk(), store_);
}

TEST_F(SaveFaultSweep, CreateLeavesThePreviousOrAnEmptyDatabase) {
  for (int s = save_faults::kCreateTemp; s < save_faults::kStepCount; ++s) {
    SCOPED_TRACE("step " + std::to_string(s));
    write_file(path("music.mp3db"), previous_);
    save_faults::set({static_cast<save_faults::step>(s), 0, 0});
    const int created = file_createdb();
    save_faults::reset();
    EXPECT_EQ(loaded_from_disk(), created == 1 ? "" : previous_store_);
    if (created == 0) {
      EXPECT_EQ(read_file(path("music.mp3db")), previous_);
    }
    expect_no_leftovers();
    restore_store();
  }
}

// A file system that fills up at every length of the new file in turn.
TEST_F(SaveFaultSweep, FileSystemFullAtAnyLengthKeepsThePreviousDatabase) {
  const off_t whole = static_cast<off_t>(read_file(path("full.mp3db")).size());
  int tried = 0;
  for (off_t room = 0; room < whole; room += whole / 23 + 1, ++tried) {
    SCOPED_TRACE("room " + std::to_string(room));
    write_file(path("music.mp3db"), previous_);
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {static_cast<rlim_t>(room), static_cast<rlim_t>(room)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
      if (file_closedb() != 0) _exit(3);
      if (describe_store() != store_) _exit(4);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(path("music.mp3db")), previous_);
    expect_no_leftovers();
  }
  RecordProperty("lengths_tried", tried);
  ASSERT_EQ(file_closedb(), 1);
  EXPECT_EQ(loaded_from_disk(), store_);
}

}  // namespace
