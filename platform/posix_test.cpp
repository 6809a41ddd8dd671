// The POSIX platform layer: what counts as a readable file, file states, listings, and
// paths past the length the system takes whole.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/page_cache.h"
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

TEST(InCache, TellsAFileReadWholeFromOneLeftToTheDisk) {
  testing_support::TempDir dir;
  const std::string path = dir.file("file");
  write_file(path, std::string(4 << 20, 'x'));
  platform::file_state st;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &st);
  ASSERT_TRUE(fd);
  EXPECT_TRUE(platform::in_cache(fd.get(), 0));
  if (!platform::in_cache(fd.get(), st.size)) GTEST_SKIP() << "the system does not tell";
  ASSERT_TRUE(testing_support::evict_from_cache(path));
  if (platform::in_cache(fd.get(), st.size)) GTEST_SKIP() << "files stay cached here (tmpfs?)";
  char head[4096];
  ASSERT_EQ(platform::read_at(fd.get(), head, sizeof head, 0), 4096);
  EXPECT_FALSE(platform::in_cache(fd.get(), st.size));
  std::string all(static_cast<size_t>(st.size), '\0');
  ASSERT_EQ(platform::read_at(fd.get(), all.data(), all.size(), 0), st.size);
  EXPECT_TRUE(platform::in_cache(fd.get(), st.size));
}

TEST(SignalsToStarter, ThreadsStartedMeanwhileTakeNoProcessSignalsButFaults) {
  auto blocked = [](int sig) {
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, sig) == 1;
  };
  ASSERT_FALSE(blocked(SIGINT));
  bool helper_int = false, helper_term = false, helper_segv = true;
  {
    platform::signals_to_starter guard;
    std::thread([&] {
      helper_int = blocked(SIGINT);
      helper_term = blocked(SIGTERM);
      helper_segv = blocked(SIGSEGV);
    }).join();
  }
  EXPECT_TRUE(helper_int);
  EXPECT_TRUE(helper_term);
  EXPECT_FALSE(helper_segv);
  EXPECT_FALSE(blocked(SIGINT));  // the starter's own mask is as it was
  bool later_int = true;
  std::thread([&] { later_int = blocked(SIGINT); }).join();
  EXPECT_FALSE(later_int);
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

TEST(ListFolder, ByDescriptorKeepsTheFolderOpenForWhatItHolds) {
  testing_support::TempDir dir;
  write_file(dir.file("song.mp3"), "abc");
  testing_support::make_dirs(dir.file("sub"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  platform::unique_fd folder = platform::open_folder(dir.path().c_str());
  ASSERT_TRUE(folder);
  std::vector<platform::dir_entry> entries;
  platform::folder_id id, again;
  ASSERT_TRUE(platform::list_folder(folder.get(), &entries, &id));
  EXPECT_EQ(entries.size(), 3u);
  // The listing read through a descriptor of its own: this one still reaches the entries.
  platform::file_state st;
  EXPECT_TRUE(platform::open_regular_fd_at(folder.get(), "song.mp3", &st));
  EXPECT_EQ(st.size, 3);
  errno = 0;
  EXPECT_FALSE(platform::open_regular_fd_at(folder.get(), "sub", nullptr));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(platform::open_regular_fd_at(folder.get(), "fifo", nullptr));
  EXPECT_EQ(errno, EINVAL);
  platform::unique_fd sub = platform::open_folder_at(folder.get(), "sub");
  ASSERT_TRUE(sub);
  EXPECT_FALSE(platform::open_folder_at(folder.get(), "song.mp3"));
  ASSERT_TRUE(platform::list_folder(folder.get(), &entries, &again));  // listed again whole
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(id, again);
}

// Folders of 200 bytes below dir down to a path of about 6,000 bytes, with a link in the
// middle; returns the deepest folder's path.
std::string deep_folders(const std::string& dir) {
  std::string path = dir;
  platform::unique_fd at(open(dir.c_str(), O_RDONLY | O_DIRECTORY));
  const std::string segment(200, 's');
  for (int i = 0; i < 30 && at; ++i) {
    const std::string name = i == 15 ? "link" : segment;
    if (i == 15) {
      if (mkdirat(at.get(), "target", 0755) != 0 || symlinkat("target", at.get(), "link") != 0)
        ADD_FAILURE() << "cannot make the link";
    } else if (mkdirat(at.get(), name.c_str(), 0755) != 0) {
      ADD_FAILURE() << "cannot make level " << i;
    }
    at = platform::unique_fd(openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
    path += "/" + name;
  }
  return path;
}

TEST(LongPaths, FilesAndFoldersPastTheLimitAreReachedByTheirWholePath) {
  testing_support::TempDir dir;
  const std::string deep = deep_folders(dir.path());
  ASSERT_GT(deep.size(), static_cast<size_t>(PATH_MAX) + 1000);
  platform::unique_fd folder = platform::open_folder(deep.c_str());
  ASSERT_TRUE(folder);
  const int file = openat(folder.get(), "x.mp3", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "12345", 5), 5);
  close(file);

  const std::string path = deep + "/x.mp3";
  platform::file_state st;
  EXPECT_TRUE(platform::open_regular_fd(path.c_str(), &st));
  EXPECT_EQ(st.size, 5);
  EXPECT_TRUE(platform::open_regular(path.c_str()));
  // Repeated separators and one at the end mean what they mean in a short path.
  const std::string doubled = dir.path() + "//" + deep.substr(dir.path().size() + 1) + "/";
  std::vector<platform::dir_entry> entries;
  ASSERT_TRUE(platform::list_folder(doubled.c_str(), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "x.mp3");
  errno = 0;
  EXPECT_FALSE(platform::open_regular_fd(deep.c_str(), nullptr));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(platform::open_regular_fd((deep + "/missing.mp3").c_str(), nullptr));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(platform::on_kernel_file_system(deep.c_str()));
  EXPECT_TRUE(platform::delete_path(path.c_str()));
  EXPECT_FALSE(platform::open_regular_fd(path.c_str(), nullptr));
  EXPECT_FALSE(platform::delete_path(path.c_str()));
  // A name longer than the system's whole limit cannot be reached, and says so.
  const std::string absurd = dir.path() + "/" + std::string(PATH_MAX + 10, 'n');
  EXPECT_FALSE(platform::open_regular_fd(absurd.c_str(), nullptr));
  EXPECT_EQ(errno, ENAMETOOLONG);
}

}  // namespace

namespace {

// Whatever the block's place, what it needs fits after the start given back, and that start
// is a huge page's where one lies whole in the block.
TEST(HugePagesIn, LeavesRoomForWhatTheCallerNeeds) {
  const size_t need = 3 * 69632;
  const size_t bytes = need + platform::kHugePageBytes;
  std::vector<unsigned char> memory(bytes + 2 * platform::kHugePageBytes);
  for (size_t shift : {size_t{0}, size_t{1}, size_t{4096}, platform::kHugePageBytes - 1}) {
    unsigned char* block = memory.data() + shift;
    unsigned char* start = platform::huge_pages_in(block, bytes);
    EXPECT_GE(start, block);
    EXPECT_LE(start + need, block + bytes);
    if (start != block) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(start) % platform::kHugePageBytes, 0u);
    }
  }
}

}  // namespace
