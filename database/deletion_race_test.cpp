// delete_file while another thread swaps the chosen path for a link to the kept copy or
// for a folder: whatever the timing, only the name at the chosen path may go; the kept
// copy and a folder put in its place survive.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/mp3_files.h"
#include "tests/support/table_entries.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::write_file;

class DeletionRace : public ::testing::Test {
 protected:
  void SetUp() override {
    kept_content_ = testing_support::random_bytes(3000, 7);
    write_file(kept_, kept_content_);
  }

  // A fresh regular file at the chosen path, listed in the store.
  void choose() {
    write_file(chosen_ + ".new", testing_support::random_bytes(2000, 8));
    ASSERT_EQ(rename((chosen_ + ".new").c_str(), chosen_.c_str()), 0);
    if (get_fileentrybyfilename(chosen_.c_str()) == -1) {
      ASSERT_EQ(file_add(chosen_.c_str()), 1);
    }
  }

  void expect_kept_intact() { ASSERT_EQ(testing_support::read_file(kept_), kept_content_); }

  testing_support::TempDir dir_;
  const std::string kept_ = dir_.file("kept.mp3");
  const std::string chosen_ = dir_.file("chosen.mp3");
  testing_support::bytes kept_content_;
  testing_support::empty_tables tables_;
  testing_support::captured_diagnostics diagnostics_;
};

TEST_F(DeletionRace, PathSwappedForALinkToTheKeptCopyLosesOnlyTheLink) {
  int deleted = 0;
  for (int round = 0; round < 2000; ++round) {
    choose();
    const std::string link = dir_.file("link" + std::to_string(round));
    ASSERT_EQ(symlink(kept_.c_str(), link.c_str()), 0);
    std::thread racer([&] { rename(link.c_str(), chosen_.c_str()); });
    deleted += delete_file(chosen_.c_str());
    racer.join();
    expect_kept_intact();
    struct stat st;
    // Whatever is left at the chosen path is the link, or the file if the link was deleted.
    if (lstat(chosen_.c_str(), &st) == 0) {
      EXPECT_TRUE(S_ISLNK(st.st_mode) || S_ISREG(st.st_mode));
    }
    unlink(chosen_.c_str());
  }
  EXPECT_GT(deleted, 0);
}

TEST_F(DeletionRace, PathSwappedForAFolderIsNotRemoved) {
  for (int round = 0; round < 2000; ++round) {
    choose();
    std::thread racer([&] {
      unlink(chosen_.c_str());
      mkdir(chosen_.c_str(), 0755);
    });
    delete_file(chosen_.c_str());
    racer.join();
    struct stat st;
    ASSERT_EQ(lstat(chosen_.c_str(), &st), 0) << round;
    ASSERT_TRUE(S_ISDIR(st.st_mode)) << round;
    ASSERT_EQ(rmdir(chosen_.c_str()), 0);
    expect_kept_intact();
  }
}

}  // namespace
