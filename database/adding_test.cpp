// file_add: what enters the tables, what is refused, and what is printed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "database/mp3_db.h"
#include "database/scan_test_util.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using scan_test::captured_output;
using testing_support::bytes;

class FileAdd : public scan_test::scan_fixture {};

bytes song(uint32_t seed, const std::string& title, size_t v2 = 0) {
  testing_support::mp3_parts p;
  p.has_id3v2 = v2 > 0;
  p.id3v2_body = v2;
  p.audio = testing_support::random_bytes(5000, seed);
  p.has_id3v1 = !title.empty();
  p.title = title;
  return testing_support::make_mp3(p);
}

TEST_F(FileAdd, AddsEntryWithSizeAndAudioDigest) {
  testing_support::TempDir dir;
  bytes b = song(1, "title", 300);
  testing_support::write_file(dir.file("a.mp3"), b);
  captured_output out;
  EXPECT_EQ(file_add(dir.file("a.mp3").c_str()), 1);
  ASSERT_EQ(file_getfilenum(), 1u);
  ASSERT_EQ(file_gethashnum(), 1u);
  EXPECT_STREQ(db_getfileentry(0)->filename, dir.file("a.mp3").c_str());
  EXPECT_EQ(db_getfileentry(0)->filesize, b.size());
  EXPECT_EQ(db_getfileentry(0)->hashid, 0);
  bytes audio = testing_support::random_bytes(5000, 1);
  EXPECT_EQ(testing_support::hex(db_gethashentry(0)),
            testing_support::hex(testing_support::md5_of(audio).data()));
  EXPECT_EQ(out.text(), "");
}

TEST_F(FileAdd, CopiesWithOtherTagsOrSpellingsShareOneHashEntry) {
  testing_support::TempDir dir;
  testing_support::make_dirs(dir.file("sub"));
  testing_support::write_file(dir.file("a.mp3"), song(7, "one", 100));
  testing_support::write_file(dir.file("sub/b.mp3"), song(7, "another title", 900));
  testing_support::write_file(dir.file("c.mp3"), song(8, ""));
  EXPECT_EQ(file_add(dir.file("a.mp3").c_str()), 1);
  EXPECT_EQ(file_add(dir.file("sub/b.mp3").c_str()), 1);
  EXPECT_EQ(file_add(dir.file("c.mp3").c_str()), 1);
  // Another spelling of a listed file's path is another entry of the same digest.
  EXPECT_EQ(file_add(dir.file("sub/../a.mp3").c_str()), 1);
  ASSERT_EQ(file_getfilenum(), 4u);
  EXPECT_EQ(file_gethashnum(), 2u);
  EXPECT_EQ(db_getfileentry(1)->hashid, 0);
  EXPECT_EQ(db_getfileentry(2)->hashid, 1);
  EXPECT_EQ(db_getfileentry(3)->hashid, 0);
}

TEST_F(FileAdd, RefusesListedPathsAndFilesWithoutAudioSilently) {
  testing_support::TempDir dir;
  testing_support::write_file(dir.file("a.mp3"), song(1, "t"));
  testing_support::write_file(dir.file("tags.mp3"), bytes(testing_support::id3v1_tag("only")));
  EXPECT_EQ(file_add(dir.file("a.mp3").c_str()), 1);
  captured_output out;
  EXPECT_EQ(file_add(dir.file("a.mp3").c_str()), 0);
  EXPECT_EQ(file_add(dir.file("tags.mp3").c_str()), 0);
  EXPECT_EQ(file_getfilenum(), 1u);
  EXPECT_EQ(file_gethashnum(), 1u);
  EXPECT_EQ(out.text(), "");
}

TEST_F(FileAdd, WarnsOfWhatCannotBeOpenedAsAFile) {
  testing_support::TempDir dir;
  testing_support::make_dirs(dir.file("folder.mp3"));
  ASSERT_EQ(mkfifo(dir.file("pipe.mp3").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere", dir.file("dangling.mp3").c_str()), 0);
  for (const char* name : {"missing.mp3", "folder.mp3", "pipe.mp3", "dangling.mp3"}) {
    captured_output out;
    std::string path = dir.file(name);
    EXPECT_EQ(file_add(path.c_str()), 0) << name;
    EXPECT_EQ(out.text(), "Warning file not found:" + path + "\n");
  }
  EXPECT_EQ(file_getfilenum(), 0u);
  EXPECT_EQ(file_gethashnum(), 0u);
}

}  // namespace
