// Lookups: bounds, first-match results, and the protocol of the one get_fileentries cursor.
#include "database/store_fixture.h"
#include "tests/support/table_entries.h"

namespace {

using namespace store_testing;

class Lookups : public StoreTest {};

// hashnum 4 and seven files, of which those at indexes 2 and 5 have hashid 3.
void seven_files() {
  for (unsigned d = 0; d < 4; ++d) tables::append_hash(digest_of(d).data());
  const int32_t hashids[] = {0, 1, 3, 2, 0, 3, 1};
  for (int i = 0; i < 7; ++i)
    testing_support::append_entry(hashids[i], 10, "/f" + std::to_string(i) + ".mp3");
}

TEST_F(Lookups, EmptyStoreFindsNothing) {
  bytes d = digest_of(1);
  EXPECT_EQ(get_hashentry(d.data()), -1);
  EXPECT_EQ(get_fileentrybyfilename("/a.mp3"), -1);
  EXPECT_EQ(get_fileentriesnum(0), 0);
  EXPECT_EQ(db_getfileentry(0), nullptr);
  EXPECT_EQ(db_gethashentry(0), nullptr);
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(0), -1);
  EXPECT_EQ(get_fileentries(5), -1);
  EXPECT_EQ(get_fileentrybyhashid(0), -1);
}

TEST_F(Lookups, IndexArgumentsCompareUnsigned) {
  seven_files();
  EXPECT_EQ(db_getfileentry(7), nullptr);
  EXPECT_EQ(db_getfileentry(static_cast<uint32_t>(-1)), nullptr);
  EXPECT_STREQ(db_getfileentry(6)->filename, "/f6.mp3");
  EXPECT_EQ(db_gethashentry(4), nullptr);
  EXPECT_EQ(db_gethashentry(static_cast<uint32_t>(-1)), nullptr);
  EXPECT_EQ(get_fileentriesnum(static_cast<uint32_t>(-1)), 0);
}

TEST_F(Lookups, FileEntriesWalkAscendingWithOneCursor) {
  seven_files();
  EXPECT_EQ(get_fileentriesnum(3), 2);
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(3), 2);
  EXPECT_EQ(get_fileentries(3), 5);
  EXPECT_EQ(get_fileentries(3), -1);
  EXPECT_EQ(get_fileentries(3), 2);  // the end reset the cursor
  // Another hashid without a reset continues from the cursor.
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(3), 2);
  EXPECT_EQ(get_fileentries(0), 4);
  EXPECT_EQ(get_fileentries(0), -1);
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(1), 1);
  EXPECT_EQ(get_fileentries(3), 2);
  EXPECT_EQ(get_fileentries(1), 6);
  // A hashid beyond hashnum is not tested against it.
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(9), -1);
  EXPECT_EQ(get_fileentrybyhashid(3), 2);
  EXPECT_EQ(get_fileentrybyhashid(2), 3);
  EXPECT_EQ(get_fileentrybyhashid(4), -1);
}

TEST_F(Lookups, CountsIgnoreHashidsBeyondHashnum) {
  testing_support::write_file(
      path("odd.mp3db"), database_bytes({digest_of(0), digest_of(1)},
                                        {{2, 1, "/a.mp3"}, {1, 1, "/b.mp3"}, {2, 1, "/c.mp3"}}));
  use("odd.mp3db");
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(get_fileentriesnum(2), 0);
  EXPECT_EQ(get_fileentriesnum(1), 1);
  // Once a third digest arrives, the files that carried its hashid count for it.
  EXPECT_EQ(tables::append_hash(digest_of(7).data()), 2);
  EXPECT_EQ(get_fileentriesnum(2), 2);
  EXPECT_EQ(get_fileentries(-1), 1);
  EXPECT_EQ(get_fileentries(2), 0);
  EXPECT_EQ(get_fileentries(2), 2);
  EXPECT_EQ(get_fileentries(2), -1);
}

TEST_F(Lookups, RepeatsInALoadedFileFindTheLowestIndex) {
  testing_support::write_file(
      path("repeats.mp3db"),
      database_bytes({digest_of(5), digest_of(6), digest_of(5)},
                     {{0, 1, "/x.mp3"}, {1, 1, "/y.mp3"}, {2, 1, "/x.mp3"}, {1, 1, "/x.mp3"}}));
  use("repeats.mp3db");
  ASSERT_EQ(file_opendb(), 1);
  EXPECT_EQ(get_hashentry(digest_of(5).data()), 0);
  EXPECT_EQ(get_fileentrybyfilename("/x.mp3"), 0);
  EXPECT_EQ(get_fileentrybyfilename("/X.mp3"), -1);  // letter case counts
  EXPECT_EQ(get_fileentrybyfilename("/x.mp3 "), -1);
  // Removing the lowest lets the next lowest win, including the entry moved into the hole.
  tables::remove_file(0);  // "/x.mp3" (hashid 1) from index 3 moves to 0
  EXPECT_EQ(get_fileentrybyfilename("/x.mp3"), 0);
  tables::remove_file(0);  // "/x.mp3" (hashid 2) from index 2 moves to 0
  EXPECT_EQ(db_getfileentry(0)->hashid, 2);
  EXPECT_EQ(get_fileentrybyfilename("/x.mp3"), 0);
  tables::rename_file(0, stringcpy("/z.mp3"));
  EXPECT_EQ(get_fileentrybyfilename("/x.mp3"), -1);
  EXPECT_EQ(get_fileentrybyfilename("/z.mp3"), 0);
  EXPECT_EQ(get_fileentrybyfilename("/y.mp3"), 1);
}

}  // namespace
