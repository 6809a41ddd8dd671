// Protected folders by real path and whole components, as removal and the window see them.
#include "cleanup/protection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(ProtectedFolders, HoldFilesByRealPathAndWholeComponents) {
  testing_support::TempDir dir;
  testing_support::make_dirs(dir.file("music/archive/deep"));
  testing_support::make_dirs(dir.file("music/archive2"));
  ASSERT_EQ(symlink(dir.file("music/archive").c_str(), dir.file("linked").c_str()), 0);

  // Named through a link; files named through the folder itself or through the link.
  cleanup::protected_folders folders({dir.file("linked"), dir.file("gone")});
  ASSERT_EQ(folders.real_paths().size(), 1u);  // a folder that does not exist protects nothing
  const std::string real = folders.real_paths()[0];
  for (const char* inside : {"music/archive/a.mp3", "music/archive/deep/b.mp3", "linked/c.mp3"}) {
    const std::string* holder = folders.folder_holding(dir.file(inside));
    ASSERT_NE(holder, nullptr) << inside;
    EXPECT_EQ(*holder, real);
  }
  for (const char* outside : {"music/archive2/a.mp3", "music/a.mp3", "music/archive"})
    EXPECT_EQ(folders.folder_holding(dir.file(outside)), nullptr) << outside;
  EXPECT_EQ(cleanup::protected_folders().folder_holding(dir.file("linked/c.mp3")), nullptr);
}

}  // namespace
