// Removing entries and files, and the exact output of the cleaning pass.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/table_entries.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::write_file;

class Removing : public ::testing::Test {
 protected:
  // Appends an entry under path with the given hashid; returns its index.
  static uint32_t add(const std::string& path, int32_t hashid = 0) {
    return testing_support::append_entry(hashid, 1, path);
  }
  static void add_hashes(int n) {
    for (int i = 0; i < n; ++i) {
      unsigned char digest[16] = {static_cast<unsigned char>(i + 1)};
      tables::append_hash(digest);
    }
  }
  static std::vector<std::string> names() {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < file_getfilenum(); ++i) out.push_back(db_getfileentry(i)->filename);
    return out;
  }
  std::string output() { return diagnostics_.text(); }

  testing_support::empty_tables empty_;
  testing_support::captured_diagnostics diagnostics_;
};

using Names = std::vector<std::string>;

TEST_F(Removing, SwapsLastEntryIntoHole) {
  add_hashes(2);
  add("/a"), add("/b"), add("/c");
  EXPECT_EQ(db_deletefileentry(0), 1);
  EXPECT_EQ(names(), (Names{"/c", "/b"}));

  add("/d");
  EXPECT_EQ(db_deletefileentry(2), 1);  // the last entry: nobody moves
  EXPECT_EQ(names(), (Names{"/c", "/b"}));

  EXPECT_EQ(db_deletefileentry(1), 1);
  EXPECT_EQ(db_deletefileentry(0), 1);
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(file_gethashnum(), 2u);  // digests outlive their files
}

TEST_F(Removing, RefusesIndexesOutOfRange) {
  add("/a"), add("/b");
  EXPECT_EQ(db_deletefileentry(-1), 0);
  EXPECT_EQ(db_deletefileentry(2), 0);
  EXPECT_EQ(db_deletefileentry(INT32_MIN), 0);
  EXPECT_EQ(delete_filebyid(2), 0);
  EXPECT_EQ(delete_filebyid(-1), 0);
  EXPECT_EQ(names(), (Names{"/a", "/b"}));
}

TEST_F(Removing, ByNameNeedsTheExactPath) {
  add("/m/Song.mp3"), add("/m/other.mp3"), add("/m/last.mp3");
  EXPECT_EQ(file_delete("/m/song.mp3"), 0);
  EXPECT_EQ(file_delete("/m/Song.mp3/"), 0);
  EXPECT_EQ(file_delete(nullptr), 0);
  EXPECT_EQ(file_getfilenum(), 3u);
  EXPECT_EQ(file_delete("/m/Song.mp3"), 1);
  EXPECT_EQ(names(), (Names{"/m/last.mp3", "/m/other.mp3"}));
  EXPECT_EQ(get_fileentrybyfilename("/m/last.mp3"), 0);
  EXPECT_EQ(get_fileentrybyfilename("/m/Song.mp3"), -1);
  EXPECT_EQ(delete_all_duplicates(), 1);
  EXPECT_EQ(file_getfilenum(), 2u);
}

TEST_F(Removing, DeleteFileRemovesFromDiskThenEntry) {
  TempDir dir;
  const std::string kept = dir.file("kept.mp3"), gone = dir.file("gone.mp3");
  write_file(kept, "k");
  write_file(gone, "g");
  add(gone), add(kept);
  EXPECT_EQ(delete_file(gone.c_str()), 1);
  EXPECT_NE(access(gone.c_str(), F_OK), 0);
  EXPECT_EQ(names(), (Names{kept}));

  // Already gone from disk: nothing happens, the entry stays for the cleaning pass.
  add(gone);
  EXPECT_EQ(delete_file(gone.c_str()), 0);
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(names(), (Names{kept}));

  // On disk without an entry: the file goes, and the answer is 0.
  const std::string stray = dir.file("stray.mp3");
  write_file(stray, "s");
  EXPECT_EQ(delete_file(stray.c_str()), 0);
  EXPECT_NE(access(stray.c_str(), F_OK), 0);

  // By index: the entry's own name is used.
  EXPECT_EQ(delete_filebyid(0), 1);
  EXPECT_NE(access(kept.c_str(), F_OK), 0);
  EXPECT_EQ(file_getfilenum(), 0u);
}

TEST_F(Removing, DeleteFileNeverTouchesWhatIsNotARegularFile) {
  TempDir dir;
  const std::string folder = dir.file("folder.mp3");
  testing_support::make_dirs(folder);
  const std::string fifo = dir.file("fifo.mp3");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  add(folder), add(fifo);
  EXPECT_EQ(delete_file(folder.c_str()), 0);
  EXPECT_EQ(delete_file(fifo.c_str()), 0);
  EXPECT_EQ(access(folder.c_str(), F_OK), 0);
  EXPECT_EQ(access(fifo.c_str(), F_OK), 0);
  EXPECT_EQ(file_getfilenum(), 2u);
  EXPECT_EQ(delete_file(nullptr), 0);
}

TEST_F(Removing, ChosenPathThatBecameALinkLosesOnlyTheLink) {
  TempDir dir;
  const std::string target = dir.file("target.mp3"), chosen = dir.file("chosen.mp3");
  write_file(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), chosen.c_str()), 0);
  add(chosen), add(target);
  EXPECT_EQ(delete_file(chosen.c_str()), 1);
  EXPECT_NE(access(chosen.c_str(), F_OK), 0);
  EXPECT_EQ(testing_support::read_file(target).size(), 8u);
  EXPECT_EQ(names(), (Names{target}));

  // A link whose target is gone counts as missing: it is left alone.
  const std::string dangling = dir.file("dangling.mp3");
  ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dangling.c_str()), 0);
  add(dangling);
  EXPECT_EQ(delete_file(dangling.c_str()), 0);
  EXPECT_EQ(names(), (Names{target, dangling}));
}

TEST_F(Removing, CleaningEmptyDatabasePrintsOnlyCompletion) {
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(output(), "Update complete\n");
}

TEST_F(Removing, CleaningPrintsEveryCheckAndTheSummary) {
  add_hashes(1);
  for (int i = 0; i < 5; ++i) add("/varnelo-missing/" + std::to_string(i) + ".mp3");
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(output(),
            "checking 5 file(s) for existance\n"
            "checked file 000001 of 000005\r"
            "checked file 000002 of 000005\r"
            "checked file 000003 of 000005\r"
            "checked file 000004 of 000005\r"
            "checked file 000005 of 000005\r"
            "\nUpdate complete\ndeleted 5 files from 5, 0 file(s) reside in database\n");
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(file_gethashnum(), 1u);
}

TEST_F(Removing, CleaningExaminesEntriesMovedIntoHoles) {
  TempDir dir;
  auto real = [&](const std::string& name) {
    write_file(dir.file(name), "x");
    return dir.file(name);
  };
  const std::string gone = dir.file("gone");
  // Missing entries first, in the middle and last; the ones moved into their holes are
  // missing too, so a skipped slot would leave one behind.
  const Names table{gone + "0", real("a"), gone + "2", real("b"), gone + "4", gone + "5",
                    real("c"), gone + "7"};
  for (const std::string& n : table) add(n);
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(names(), (Names{dir.file("c"), dir.file("a"), dir.file("b")}));
  const std::string out = output();
  EXPECT_NE(out.find("checked file 000008 of 000008\r\nUpdate complete\n"
                     "deleted 5 files from 8, 3 file(s) reside in database\n"),
            std::string::npos);
  EXPECT_EQ(out.find("000009"), std::string::npos);
}

TEST_F(Removing, CleaningOnlyLastMissingMovesNothing) {
  TempDir dir;
  write_file(dir.file("a"), "a");
  write_file(dir.file("b"), "b");
  testing_support::make_dirs(dir.file("folder"));
  add(dir.file("a")), add(dir.file("b")), add(dir.file("folder"));
  EXPECT_EQ(file_updatedb(), 1);  // a folder is no file: dropped
  EXPECT_EQ(names(), (Names{dir.file("a"), dir.file("b")}));
  EXPECT_NE(output().find("deleted 1 files from 3, 2 file(s) reside in database\n"),
            std::string::npos);
}

TEST_F(Removing, CleaningCopesWithANameHeldTwice) {
  // Only a loaded database can hold a name twice; both entries are examined once each.
  add("/varnelo-missing/x"), add("/varnelo-missing/y"), add("/varnelo-missing/x");
  EXPECT_EQ(file_updatedb(), 1);
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_NE(output().find("checked file 000003 of 000003\r\n"), std::string::npos);
  EXPECT_EQ(output().find("000004"), std::string::npos);
}

}  // namespace
