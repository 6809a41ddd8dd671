// Splitting search strings, matching words, and the order and cursor of the search walk.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/mp3_files.h"
#include "tests/support/table_entries.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::write_file;
using Words = std::vector<std::string>;
using Indexes = std::vector<int32_t>;

class TitleSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { EXPECT_EQ(chdir(cwd_), 0); }
  std::string output() { return diagnostics_.text(); }
  static void add(const std::string& path) { testing_support::append_entry(0, 1, path); }
  // A file on disk with an ID3v1 tag titled title (or none), entered by a path relative to
  // the temporary folder so that the folder's random name cannot match a word.
  void song(const std::string& name, const char* title) {
    testing_support::mp3_parts parts;
    parts.audio = testing_support::random_bytes(200, 5);
    parts.has_id3v1 = title != nullptr;
    if (title != nullptr) parts.title = title;
    write_file(dir_.file(name), testing_support::make_mp3(parts));
    add(name);
  }
  // Every match of one pass, up to the -1 that ends it.
  static Indexes pass() {
    Indexes found;
    for (int32_t i; (i = get_fileentriesbyname(nullptr)) != -1;) found.push_back(i);
    return found;
  }
  static Words split(std::string text) {
    char** table = tokenize_searchstring(text.data());
    Words out;
    for (char** t = table; *t != nullptr; ++t) out.push_back(*t);
    free(table);
    return out;
  }

  testing_support::empty_tables tables_;
  testing_support::captured_diagnostics diagnostics_;
  TempDir dir_;
  char cwd_[4096] = {};
};

TEST_F(TitleSearch, ScanBeforeAnySearchStringEndsAtOnce) {
  // A fresh process is the only place without a search yet: the threadsafe style re-runs
  // this program for the statement alone.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  add("/a.mp3");
  EXPECT_EXIT(
      {
        const bool ended = get_fileentriesbyname(nullptr) == -1 &&
                           get_fileentriesbyname(nullptr) == -1;
        tables::clear();
        exit(ended ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(TitleSearch, SplitsAtRunsOfStarsAndSpaces) {
  EXPECT_EQ(split("beat*it"), (Words{"beat", "it"}));
  EXPECT_EQ(split("  beat ** it* "), (Words{"beat", "it"}));
  EXPECT_EQ(split("it beat"), (Words{"it", "beat"}));
  EXPECT_EQ(split("a\tb c"), (Words{"a\tb", "c"}));
  EXPECT_EQ(split("a?b.mp3"), (Words{"a?b.mp3"}));
  EXPECT_EQ(split(""), Words{});
  EXPECT_EQ(split("* *  **"), Words{});
  std::string many;
  for (int i = 0; i < 100; ++i) many += "w" + std::to_string(i) + " ";
  EXPECT_EQ(split(many).size(), 100u);
  EXPECT_EQ(split(many).back(), "w99");
}

TEST_F(TitleSearch, SplittingPrintsEachWordAndTheCount) {
  split("*beat it*");
  split("**");
  EXPECT_EQ(output(),
            "token[0]:beat\ntoken[1]:it\n2 search tokens found!\n0 search tokens found!\n");
}

TEST_F(TitleSearch, MatchingFoldsOnlyAToZ) {
  std::string words = "BEAT it";
  char** t = tokenize_searchstring(words.data());
  EXPECT_EQ(search_in_string(t, "/music/Michael/beat_IT.mp3"), 1);
  EXPECT_EQ(search_in_string(t, "/music/beatles/x.mp3"), 0);  // "it" nowhere
  EXPECT_EQ(search_in_string(t, "/music/beatles/hit.mp3"), 1);  // inside longer words
  EXPECT_EQ(search_in_string(t, nullptr), 0);
  free(t);

  std::string accented = "\xC4rger";  // Latin-1 capital A umlaut
  t = tokenize_searchstring(accented.data());
  EXPECT_EQ(search_in_string(t, "\xE4rger"), 0);
  EXPECT_EQ(search_in_string(t, "\xC4RGER"), 1);
  free(t);

  char* none[] = {nullptr};
  EXPECT_EQ(search_in_string(none, "anything"), 1);
  EXPECT_EQ(search_in_string(none, ""), 1);
  char empty_word[] = "";
  char* with_empty[] = {empty_word, nullptr};
  EXPECT_EQ(search_in_string(with_empty, "x"), 1);

  const std::string text = "/Music/Song.MP3";
  char w1[] = "song";
  char* one[] = {w1, nullptr};
  search_in_string(one, text.c_str());
  EXPECT_EQ(text, "/Music/Song.MP3");
  EXPECT_STREQ(w1, "song");
}

TEST_F(TitleSearch, WalksMatchesInTableOrderThenStartsOver) {
  add("/music/Jackson/Beat It.mp3");   // 0
  add("/music/other/thriller.mp3");    // 1
  add("/music/JACKSON/billie.mp3");    // 2
  add("/music/it/beatbox.mp3");        // 3: words split over folder and name
  for (const char* query : {"beat*it", "beat it", "it beat", " *IT**BEAT* "}) {
    EXPECT_EQ(get_fileentriesbyname(query), -1) << query;
    EXPECT_EQ(pass(), (Indexes{0, 3})) << query;
  }
  // A folder's name matches every file in it; after -1 the next pass starts at 0.
  get_fileentriesbyname("jackson");
  EXPECT_EQ(pass(), (Indexes{0, 2}));
  EXPECT_EQ(pass(), (Indexes{0, 2}));

  // Empty searches match every entry, one per call.
  get_fileentriesbyname("");
  EXPECT_EQ(pass(), (Indexes{0, 1, 2, 3}));
  get_fileentriesbyname("* *");
  EXPECT_EQ(pass(), (Indexes{0, 1, 2, 3}));
}

TEST_F(TitleSearch, NewSearchMidPassRestartsAtFirstEntry) {
  add("/a/one.mp3"), add("/a/two.mp3"), add("/b/one.mp3");
  get_fileentriesbyname("one");
  EXPECT_EQ(get_fileentriesbyname(nullptr), 0);
  get_fileentriesbyname("/a/");
  EXPECT_EQ(pass(), (Indexes{0, 1}));

  // Removal behind the cursor: the entry moved into the hole is not reached this pass;
  // entries added meanwhile are.
  get_fileentriesbyname("mp3");
  EXPECT_EQ(get_fileentriesbyname(nullptr), 0);
  EXPECT_EQ(get_fileentriesbyname(nullptr), 1);
  db_deletefileentry(0);  // "/b/one.mp3" moves to 0
  add("/c/new.mp3");
  EXPECT_EQ(pass(), (Indexes{2}));
}

TEST_F(TitleSearch, CallersTextStaysAsGiven) {
  add("/x/a\tb.mp3"), add("/x/a b.mp3");
  const std::string query = "a\tb*";
  get_fileentriesbyname(query.c_str());
  EXPECT_EQ(query, "a\tb*");
  EXPECT_EQ(pass(), (Indexes{0}));
  EXPECT_EQ(db_getfileentry(0)->filename, std::string("/x/a\tb.mp3"));
}

TEST_F(TitleSearch, TitleMatchesWhenPathDoesNot) {
  song("01.mp3", "Beat It");         // 0: by title
  song("02.mp3", "Thriller");        // 1: tag, title does not match
  song("beat it.mp3", nullptr);      // 2: by path, no tag
  add("it beat gone.mp3");           // 3: by path, file missing
  song("it-03.mp3", "Beat");         // 4: the words split between path and title
  get_fileentriesbyname("beat it");
  output();
  EXPECT_EQ(pass(), (Indexes{0, 2, 3}));
}

TEST_F(TitleSearch, ScanPrintsTitleLinesForEveryEntryExamined) {
  song("beat.mp3", "Beat");
  song("other.mp3", "Quiet");
  song("notag.mp3", nullptr);
  get_fileentriesbyname("beat");
  const size_t before = output().size();
  EXPECT_EQ(get_fileentriesbyname(nullptr), 0);
  EXPECT_EQ(get_fileentriesbyname(nullptr), -1);
  EXPECT_EQ(output().substr(before),
            // Matched by path: the title is read, but not searched.
            "reading id3 title\nid3 tag found\nmalloc'ed\nmemset'ed\ntitle:[Beat]\n"
            "reading id3 title\nid3 tag found\nmalloc'ed\nmemset'ed\ntitle:[Quiet]\n"
            "searching in id3-title:Quiet\n"
            "reading id3 title\n");
}

}  // namespace
