// A file's entry found by any spelling: relative parts, linked folders, a file that is gone,
// and an entry stored under a linked spelling while the file is named by its real one.
#include "cleanup/file_entry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "cleanup/cleanup_fixture.h"

namespace {

class FileEntry : public cleanup_testing::CleanupTest {};

TEST_F(FileEntry, IsFoundWhateverSpellingNamesTheFile) {
  const std::string real = song("music/album/song.mp3", 1);
  const std::string other = song("music/album/other.mp3", 2);
  ASSERT_EQ(symlink(dir_.file("music").c_str(), dir_.file("link").c_str()), 0);
  const int32_t index = get_fileentrybyfilename(real.c_str());
  ASSERT_NE(index, -1);
  EXPECT_EQ(cleanup::find_entry(real), index);
  EXPECT_EQ(cleanup::find_entry(dir_.file("link/album/song.mp3")), index);
  EXPECT_EQ(cleanup::find_entry(dir_.file("music/album/../album/./song.mp3")), index);
  EXPECT_EQ(cleanup::find_entry(dir_.file("music/album/missing.mp3")), -1);
  EXPECT_EQ(cleanup::find_entry(dir_.file("nowhere/song.mp3")), -1);
  EXPECT_EQ(cleanup::canonical_file_path(dir_.file("link/album/song.mp3")),
            cleanup_testing::real(real));

  // An entry stored under the linked spelling, named by the real one; and a file that is
  // gone, named through the link.
  file_delete(other.c_str());
  const std::string linked = dir_.file("link/album/other.mp3");
  ASSERT_EQ(file_add(linked.c_str()), 1);
  const int32_t linked_index = get_fileentrybyfilename(linked.c_str());
  EXPECT_EQ(cleanup::find_entry(other), linked_index);
  ASSERT_EQ(unlink(other.c_str()), 0);
  EXPECT_EQ(cleanup::find_entry(other), linked_index);
  EXPECT_EQ(cleanup::canonical_file_path(linked),
            cleanup_testing::real(dir_.file("music/album")) + "/other.mp3");
}

}  // namespace
