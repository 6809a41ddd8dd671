// The ID3v1 title bytes, the progress lines around them, and the tag answers.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "database/mp3_db.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::bytes;
using testing_support::TempDir;
using testing_support::write_file;

using title_ptr = mp3db_owned<char>;

class Id3Fields : public ::testing::Test {
 protected:
  std::string output() { return diagnostics_.text(); }
  // A file of audio bytes followed by a tag whose title field holds exactly field.
  std::string tagged(const std::string& name, const bytes& field) {
    bytes data = testing_support::random_bytes(300, 7);
    bytes tag(128, 0);
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    std::copy(field.begin(), field.end(), tag.begin() + 3);
    data.insert(data.end(), tag.begin(), tag.end());
    write_file(dir_.file(name), data);
    return dir_.file(name);
  }

  TempDir dir_;
  testing_support::captured_diagnostics diagnostics_;
};

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

TEST_F(Id3Fields, TitleBytesAreCopiedAsTheyStand) {
  const std::string full(30, 'x');
  title_ptr t(id3_gettitle(tagged("full.mp3", text(full)).c_str()));
  ASSERT_TRUE(t);
  EXPECT_EQ(std::string(t.get()), full);
  EXPECT_EQ(t.get()[30], '\0');

  t.reset(id3_gettitle(tagged("short.mp3", text(std::string("beat\0junk", 9))).c_str()));
  EXPECT_STREQ(t.get(), "beat");

  t.reset(id3_gettitle(tagged("padded.mp3", text("It    ")).c_str()));
  EXPECT_STREQ(t.get(), "It    ");

  t.reset(id3_gettitle(tagged("latin1.mp3", text("\xC4rger")).c_str()));
  EXPECT_STREQ(t.get(), "\xC4rger");

  t.reset(id3_gettitle(tagged("empty.mp3", bytes{0, 'x'}).c_str()));
  ASSERT_TRUE(t);
  EXPECT_STREQ(t.get(), "");
}

TEST_F(Id3Fields, TitleProgressLines) {
  title_ptr t(id3_gettitle(tagged("song.mp3", text("Song")).c_str()));
  t.reset(id3_gettitle(tagged("empty.mp3", bytes{}).c_str()));
  EXPECT_EQ(output(),
            "reading id3 title\nid3 tag found\nmalloc'ed\nmemset'ed\ntitle:[Song]\n"
            "reading id3 title\nid3 tag found\nmalloc'ed\nmemset'ed\ntitle:[]\n");
}

TEST_F(Id3Fields, NoTitleWithoutATagAtTheEnd) {
  // Lower-case marker, a tag only at the start (ID3v2), a short file, a folder, a FIFO,
  // a missing file: null, with only the first line printed.
  testing_support::mp3_parts parts;
  parts.audio = testing_support::random_bytes(200, 1);
  bytes lower = testing_support::make_mp3(parts);
  const char tag[] = "tag";
  std::copy(tag, tag + 3, lower.end() - 128);
  write_file(dir_.file("lower.mp3"), lower);
  parts.has_id3v2 = true;
  parts.id3v2_body = 50;
  write_file(dir_.file("v2.mp3"), testing_support::make_mp3(parts));
  write_file(dir_.file("short.mp3"), "TAGshort title");
  testing_support::make_dirs(dir_.file("folder.mp3"));
  ASSERT_EQ(mkfifo(dir_.file("fifo.mp3").c_str(), 0600), 0);
  for (const char* name : {"lower.mp3", "v2.mp3", "short.mp3", "folder.mp3", "fifo.mp3",
                           "missing.mp3"}) {
    EXPECT_EQ(id3_gettitle(dir_.file(name).c_str()), nullptr) << name;
  }
  EXPECT_EQ(id3_gettitle(nullptr), nullptr);
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += "reading id3 title\n";
  EXPECT_EQ(output(), expected);
}

TEST_F(Id3Fields, ExactlyOneTagLongFileIsATag) {
  bytes only = testing_support::id3v1_tag("Whole File");
  write_file(dir_.file("128.mp3"), only);
  title_ptr t(id3_gettitle(dir_.file("128.mp3").c_str()));
  EXPECT_STREQ(t.get(), "Whole File");
  EXPECT_EQ(id3_getartist(dir_.file("128.mp3").c_str()), 128);
}

TEST_F(Id3Fields, ArtistAndAlbumOnlyAnswerWhetherATagIsThere) {
  write_file(dir_.file("tagged.mp3"),
             testing_support::make_mp3({.audio = testing_support::random_bytes(500, 3),
                                        .has_id3v1 = true, .title = "t"}));
  write_file(dir_.file("plain.mp3"), testing_support::random_bytes(500, 4));
  // Shorter than a tag: judged from the start of the file.
  write_file(dir_.file("shorttag.mp3"), "TAGabc");
  write_file(dir_.file("shortplain.mp3"), "abcTAG");
  testing_support::make_dirs(dir_.file("folder.mp3"));
  const struct {
    const char* name;
    int answer;
  } cases[] = {{"tagged.mp3", 128},    {"plain.mp3", 0},  {"shorttag.mp3", 128},
               {"shortplain.mp3", 0},  {"folder.mp3", -1}, {"missing.mp3", -1}};
  for (const auto& c : cases) {
    const std::string path = dir_.file(c.name);
    EXPECT_EQ(id3_getartist(path.c_str()), c.answer) << c.name;
    EXPECT_EQ(id3_getalbum(path.c_str()), c.answer) << c.name;
    EXPECT_EQ(checktagid3(path.c_str()), c.answer) << c.name;
  }
  EXPECT_EQ(output(), "");
}

}  // namespace
