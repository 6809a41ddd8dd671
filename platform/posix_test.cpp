// The POSIX platform layer: what counts as a readable file, file states, and listings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::write_file;

TEST(OpenRegular, RefusesEverythingButRegularFilesWithoutBlocking) {
  testing_support::TempDir dir;
  write_file(dir.file("file"), "content");
  testing_support::make_dirs(dir.file("folder"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("file", dir.file("link").c_str()), 0);
  ASSERT_EQ(symlink("missing", dir.file("dangling").c_str()), 0);
  platform::file_state st;
  EXPECT_TRUE(platform::open_regular_fd(dir.file("file").c_str(), &st));
  EXPECT_EQ(st.size, 7);
  EXPECT_TRUE(platform::open_regular_fd(dir.file("link").c_str(), nullptr));
  for (const char* name : {"folder", "fifo", "dangling", "missing"})
    EXPECT_FALSE(platform::open_regular_fd(dir.file(name).c_str(), nullptr)) << name;
  EXPECT_FALSE(platform::open_regular_fd("/dev/null", nullptr));
  EXPECT_FALSE(platform::open_regular(dir.file("fifo").c_str()));
  EXPECT_TRUE(platform::open_regular(dir.file("file").c_str()));
}

TEST(FileState, ChangesWithContentTimesOrIdentity) {
  testing_support::TempDir dir;
  const std::string path = dir.file("f");
  write_file(path, "aaaa");
  platform::file_state first, again;
  { platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &first); }
  { platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &again); }
  EXPECT_EQ(first, again);
  // Same size, modification time put back: the change time still tells.
  write_file(path, "bbbb");
  struct timespec times[2] = {{0, UTIME_OMIT},
                              {first.mtime_ns / 1000000000, first.mtime_ns % 1000000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  platform::file_state rewritten;
  { platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &rewritten); }
  EXPECT_EQ(rewritten.mtime_ns, first.mtime_ns);
  EXPECT_EQ(rewritten.size, first.size);
  if (rewritten.ctime_ns == first.ctime_ns) GTEST_SKIP() << "change time did not move";
  EXPECT_FALSE(rewritten == first);
}

TEST(ReadAt, ReadsUpToTheEndOfTheFile) {
  testing_support::TempDir dir;
  write_file(dir.file("f"), "0123456789");
  platform::unique_fd fd = platform::open_regular_fd(dir.file("f").c_str(), nullptr);
  char buf[16] = {};
  EXPECT_EQ(platform::read_at(fd.get(), buf, 4, 3), 4);
  EXPECT_EQ(std::string(buf, 4), "3456");
  EXPECT_EQ(platform::read_at(fd.get(), buf, 16, 8), 2);
  EXPECT_EQ(platform::read_at(fd.get(), buf, 16, 100), 0);
}

TEST(ListFolder, NamesEntriesAndTellsFoldersAndIdentity) {
  testing_support::TempDir dir;
  testing_support::make_dirs(dir.file("sub"));
  write_file(dir.file("new\nline \xff.mp3"), "x");
  ASSERT_EQ(symlink("sub", dir.file("to_sub").c_str()), 0);
  ASSERT_EQ(symlink("nothing", dir.file("dangling").c_str()), 0);
  std::vector<platform::dir_entry> entries;
  platform::folder_id id, via_link;
  ASSERT_TRUE(platform::list_folder(dir.path().c_str(), &entries, &id));
  std::sort(
      entries.begin(), entries.end(),
      [](const platform::dir_entry& a, const platform::dir_entry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 4u);  // no "." or ".."
  EXPECT_EQ(entries[0].name, "dangling");
  EXPECT_FALSE(entries[0].is_folder);
  EXPECT_EQ(entries[1].name, "new\nline \xff.mp3");
  EXPECT_FALSE(entries[1].is_folder);
  EXPECT_TRUE(entries[2].is_folder);  // sub
  EXPECT_TRUE(entries[3].is_folder);  // to_sub, a link to a folder
  platform::folder_id sub;
  ASSERT_TRUE(platform::list_folder(dir.file("sub").c_str(), &entries, &sub));
  ASSERT_TRUE(platform::list_folder(dir.file("to_sub").c_str(), &entries, &via_link));
  EXPECT_EQ(sub, via_link);
  EXPECT_FALSE(sub == id);
  EXPECT_FALSE(platform::list_folder(dir.file("new\nline \xff.mp3").c_str(), &entries, &id));
  EXPECT_FALSE(platform::list_folder(dir.file("missing").c_str(), &entries, &id));
}

}  // namespace
