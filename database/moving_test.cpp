// Moving entries to new paths, joining texts, the debug log and the fixed answers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/table_entries.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

class Moving : public ::testing::Test {
 protected:
  static void add(const char* path, int32_t hashid = 0, uint32_t size = 1) {
    testing_support::append_entry(hashid, size, path);
  }
  static std::string name(uint32_t i) { return db_getfileentry(i)->filename; }
  // file_movetodir on a writable copy of dir; returns the result and the trimmed text.
  static std::pair<int, std::string> movetodir(int32_t index, const std::string& dir) {
    std::string text = dir;
    int result = file_movetodir(index, text.data());
    return {result, text.c_str()};
  }
  testing_support::empty_tables tables_;
};

TEST_F(Moving, MoveGivesTheEntryACopyOfTheNewPath) {
  add("/old/a.mp3", 3, 42);
  add("/old/b.mp3");
  std::string path = "/new/a.mp3";
  EXPECT_EQ(file_move(0, path.c_str()), 1);
  path[1] = 'X';  // the entry holds its own copy
  EXPECT_EQ(name(0), "/new/a.mp3");
  EXPECT_EQ(db_getfileentry(0)->hashid, 3);
  EXPECT_EQ(db_getfileentry(0)->filesize, 42u);
  EXPECT_EQ(get_fileentrybyfilename("/new/a.mp3"), 0);
  EXPECT_EQ(get_fileentrybyfilename("/old/a.mp3"), -1);

  EXPECT_EQ(file_move(2, "/x"), 0);  // index == filenum
  EXPECT_EQ(file_move(-1, "/x"), 0);
  // An empty or missing path would leave an entry that no saved database can hold.
  EXPECT_EQ(file_move(1, ""), 0);
  EXPECT_EQ(file_move(1, nullptr), 0);
  EXPECT_EQ(name(1), "/old/b.mp3");
}

TEST_F(Moving, MoveToDirTrimsAndKeepsOneSeparator) {
  add("/music/old/a.mp3", 2, 9);
  EXPECT_EQ(movetodir(0, "/new/ \t//  "), std::make_pair(1, std::string("/new")));
  EXPECT_EQ(name(0), "/new/a.mp3");
  EXPECT_EQ(db_getfileentry(0)->hashid, 2);
  EXPECT_EQ(get_fileentrybyfilename("/new/a.mp3"), 0);
  EXPECT_EQ(get_fileentrybyfilename("/music/old/a.mp3"), -1);

  EXPECT_EQ(movetodir(0, "/plain"), std::make_pair(1, std::string("/plain")));
  EXPECT_EQ(name(0), "/plain/a.mp3");
  // A backslash is no separator here: it stays, as part of the folder's name.
  EXPECT_EQ(movetodir(0, "/odd\\"), std::make_pair(1, std::string("/odd\\")));
  EXPECT_EQ(name(0), "/odd\\/a.mp3");
  // Inner blanks stay; only the end is trimmed.
  EXPECT_EQ(movetodir(0, "/my music /"), std::make_pair(1, std::string("/my music")));
  EXPECT_EQ(name(0), "/my music/a.mp3");
  // The root trims to nothing and the name keeps its own separator.
  EXPECT_EQ(movetodir(0, "///"), std::make_pair(1, std::string("")));
  EXPECT_EQ(name(0), "/a.mp3");
}

TEST_F(Moving, MoveToDirOutOfRangeStillTrims) {
  add("/a/b.mp3");
  EXPECT_EQ(movetodir(1, "/x/ "), std::make_pair(0, std::string("/x")));
  EXPECT_EQ(movetodir(-1, "/y\t"), std::make_pair(0, std::string("/y")));
  EXPECT_EQ(file_movetodir(0, nullptr), 0);
  EXPECT_EQ(name(0), "/a/b.mp3");
}

TEST_F(Moving, MoveToDirOfABareNameAddsTheSeparator) {
  add("a.mp3");
  ASSERT_EQ(file_move(0, "bare.mp3"), 1);
  EXPECT_EQ(movetodir(0, "/music/"), std::make_pair(1, std::string("/music")));
  EXPECT_EQ(name(0), "/music/bare.mp3");
  add("b.mp3");
  EXPECT_EQ(movetodir(1, ""), std::make_pair(1, std::string("")));
  EXPECT_EQ(name(1), "/b.mp3");
}

TEST_F(Moving, StringAddJoinsInTheFirstBlock) {
  char* s = strdup("abc");
  s = stringadd(s, "def");
  EXPECT_STREQ(s, "abcdef");
  s = stringadd(s, "");
  EXPECT_STREQ(s, "abcdef");
  // Appending a text that lies in the block being resized.
  s = stringadd(s, s);
  EXPECT_STREQ(s, "abcdefabcdef");
  s = stringadd(s, s + 9);
  EXPECT_STREQ(s, "abcdefabcdefdef");
  EXPECT_EQ(stringadd(s, nullptr), nullptr);
  EXPECT_STREQ(s, "abcdefabcdefdef");  // untouched, still the caller's
  EXPECT_EQ(stringadd(nullptr, "x"), nullptr);
  free(s);
}

TEST_F(Moving, DebugPrintAppendsWholeMessages) {
  TempDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  Debug_Print(nullptr);  // creates the log, writes nothing
  EXPECT_EQ(testing_support::read_file("debug.txt").size(), 0u);
  Debug_Print("one %d", 1);
  Debug_Print("two %s%%", "x");
  const std::string long_text(1000, 'L');
  Debug_Print("[%s]", long_text.c_str());
  std::vector<unsigned char> log = testing_support::read_file("debug.txt");
  EXPECT_EQ(std::string(log.begin(), log.end()), "one 1two x%[" + long_text + "]");
  EXPECT_EQ(chdir(cwd), 0);
}

TEST_F(Moving, PlaceholdersGiveFixedAnswers) {
  TempDir dir;
  const std::string file = dir.file("a.mp3");
  testing_support::write_file(file, "x");
  testing_support::make_dirs(dir.file("folder"));
  EXPECT_EQ(move_file(file.c_str()), 1);
  EXPECT_EQ(access(file.c_str(), F_OK), 0);
  EXPECT_EQ(move_file(dir.file("missing").c_str()), 0);
  EXPECT_EQ(move_file(dir.file("folder").c_str()), 0);
  EXPECT_EQ(move_file(nullptr), 0);
  EXPECT_EQ(move_filetodir(), 1);
  EXPECT_EQ(isdirectory(), 0);
  EXPECT_EQ(direxists(), 0);
  EXPECT_EQ(createdir(), 0);
  EXPECT_EQ(access(dir.file("folder").c_str(), F_OK), 0);
}

}  // namespace
