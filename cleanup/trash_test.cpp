// The trash as the desktop sees it: trashed copies have a valid .trashinfo and come back when
// moved to the Path it names; a file on another file system goes to that file system's own
// trash; a file system without a usable trash keeps the file; and removing one named file.
// The home trash is the test's own (HOME and XDG_DATA_HOME in a temporary folder); other file
// systems are mounted by the test where it may mount.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "cleanup/cleanup_fixture.h"
#include "cleanup/removal.h"

namespace {

using cleanup::outcome_kind;
using cleanup::removal_method;
using cleanup_testing::digest_of_audio;
using cleanup_testing::holds_song;
using testing_support::bytes;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string percent_decoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A .trashinfo: its Path decoded, and whether its DeletionDate is a local time close to now.
struct trash_info {
  std::string path;
  bool recent = false;
};

trash_info read_info(const std::string& info_file) {
  trash_info info;
  std::istringstream lines(read_text(info_file));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "[Trash Info]") << info_file;
  while (std::getline(lines, line)) {
    if (line.rfind("Path=", 0) == 0) info.path = percent_decoded(line.substr(5));
    if (line.rfind("DeletionDate=", 0) == 0) {
      struct tm when = {};
      const char* end = strptime(line.c_str() + 13, "%Y-%m-%dT%H:%M:%S", &when);
      EXPECT_TRUE(end != nullptr && *end == 0) << line;
      when.tm_isdst = -1;
      info.recent = end != nullptr && std::abs(difftime(mktime(&when), time(nullptr))) < 300;
    }
  }
  return info;
}

// A file system of type mounted at a folder for the test's life; ok() is false where the
// test may not mount.
class scoped_mount {
 public:
  scoped_mount(const std::string& type, const std::string& at) : at_(at) {
    testing_support::make_dirs(at);
    ok_ = mount(type.c_str(), at.c_str(), type.c_str(), 0, nullptr) == 0;
    error_ = errno;
  }
  ~scoped_mount() {
    if (ok_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  std::string why() const { return strerror(error_); }

 private:
  std::string at_;
  bool ok_ = false;
  int error_ = 0;
};

#define MOUNT_OR_SKIP(m, type, at)                                        \
  scoped_mount m(type, at);                                               \
  if (!m.ok())                                                            \
  GTEST_SKIP() << "cannot mount a " type " file system here (" << m.why() \
               << "); this needs root where mounting is allowed"

class Trash : public cleanup_testing::CleanupTest {
 protected:
  void SetUp() override {
    trash_ = cleanup_testing::test_trash();
    ASSERT_FALSE(trash_.empty());
    CleanupTest::SetUp();
  }
  cleanup::removal_summary remove(const std::vector<cleanup::removal_group>& groups) {
    cleanup::removal_options options;
    options.on_file = [&](const cleanup::file_outcome& o) {
      outcomes_.push_back(o);
      return true;
    };
    return cleanup::remove_copies(groups, options);
  }

  std::string trash_;
  std::vector<cleanup::file_outcome> outcomes_;
};

TEST_F(Trash, TrashedCopiesHaveAValidTrashInfoAndComeBackWhenRestored) {
  // Names the .trashinfo must escape, and two copies of one name in different folders.
  const std::string kept = song("kept.mp3", 1);
  const std::vector<std::string> copies = {song("a/Ünïcode & space %.mp3", 1, 20),
                                           song("a/copy.mp3", 1, 30), song("b/copy.mp3", 1, 40)};
  std::vector<bytes> before;
  for (const std::string& c : copies) before.push_back(testing_support::read_file(c));
  const cleanup::removal_summary s = remove({{digest_of_audio(1), {kept}, copies, false}});
  EXPECT_EQ(s.trashed, 3u);
  EXPECT_EQ(s.bytes_removed, before[0].size() + before[1].size() + before[2].size());
  for (const std::string& c : copies) {
    EXPECT_FALSE(std::filesystem::exists(c)) << c;
    EXPECT_FALSE(listed(c)) << c;
  }

  // Every trashed file has its .trashinfo naming where it came from; moving each back to
  // that path restores the very bytes.
  int restored = 0;
  for (const auto& entry : std::filesystem::directory_iterator(trash_ + "/files")) {
    const std::string name = entry.path().filename();
    const trash_info info = read_info(trash_ + "/info/" + name + ".trashinfo");
    EXPECT_TRUE(info.recent) << name;
    for (size_t i = 0; i < copies.size(); ++i) {
      if (info.path != copies[i]) continue;
      ASSERT_EQ(rename(entry.path().c_str(), info.path.c_str()), 0) << info.path;
      EXPECT_EQ(testing_support::read_file(copies[i]), before[i]);
      unlink((trash_ + "/info/" + name + ".trashinfo").c_str());
      ++restored;
    }
  }
  EXPECT_EQ(restored, 3);
}

TEST_F(Trash, AFileOnAnotherFileSystemGoesToThatFileSystemsOwnTrash) {
  // ramfs: a mount GIO keeps a trash on (tmpfs it counts as the system's own).
  MOUNT_OR_SKIP(m, "ramfs", dir_.file("mnt"));
  const std::string kept = song("kept.mp3", 2);
  const std::string away = song("mnt/sub/away.mp3", 2, 20);
  const bytes before = testing_support::read_file(away);
  ASSERT_EQ(remove({{digest_of_audio(2), {kept}, {away}, false}}).trashed, 1u);
  const std::string top_trash = dir_.file("mnt/.Trash-" + std::to_string(getuid()));
  ASSERT_TRUE(std::filesystem::exists(top_trash + "/files/away.mp3"));
  // There the Path is relative to the top of the file system.
  const trash_info info = read_info(top_trash + "/info/away.mp3.trashinfo");
  EXPECT_EQ(info.path, "sub/away.mp3");
  EXPECT_TRUE(info.recent);
  ASSERT_EQ(rename((top_trash + "/files/away.mp3").c_str(), dir_.file("mnt/" + info.path).c_str()),
            0);
  EXPECT_EQ(testing_support::read_file(away), before);
  EXPECT_FALSE(std::filesystem::exists(trash_ + "/files/away.mp3"));
}

TEST_F(Trash, AFileSystemWithoutAUsableTrashKeepsTheFile) {
  const std::string kept = song("kept.mp3", 3);
  auto expect_kept_in_place = [&](const std::string& copy) {
    outcomes_.clear();
    const cleanup::removal_summary s = remove({{digest_of_audio(3), {kept}, {copy}, false}});
    EXPECT_EQ(s.trashed, 0u);
    EXPECT_EQ(s.no_trash, 1u);
    EXPECT_TRUE(holds_song(copy, 3) && listed(copy));
    ASSERT_EQ(outcomes_.size(), 1u);
    EXPECT_EQ(outcomes_[0].kind, outcome_kind::skipped);
    EXPECT_NE(outcomes_[0].reason.find("no usable trash"), std::string::npos)
        << outcomes_[0].reason;
  };

  // The home trash cannot be made: a file stands where its folder would be.
  std::filesystem::remove_all(trash_);
  testing_support::make_dirs(std::filesystem::path(trash_).parent_path());
  testing_support::write_file(trash_, bytes{1});
  expect_kept_in_place(song("home/copy.mp3", 3, 20));
  std::filesystem::remove(trash_);

  // A ramfs whose trash folder cannot be made, and a tmpfs, which keeps no trash at all.
  {
    MOUNT_OR_SKIP(ram, "ramfs", dir_.file("ram"));
    testing_support::write_file(dir_.file("ram/.Trash-" + std::to_string(getuid())), bytes{1});
    expect_kept_in_place(song("ram/copy.mp3", 3, 30));
  }
  {
    MOUNT_OR_SKIP(tmp, "tmpfs", dir_.file("tmp"));
    const std::string copy = song("tmp/copy.mp3", 3, 40);
    expect_kept_in_place(copy);
    // Permanent deletion is the explicit way out.
    cleanup::removal_options options;
    options.method = removal_method::permanent;
    EXPECT_EQ(
        cleanup::remove_copies({{digest_of_audio(3), {kept}, {copy}, false}}, options).deleted, 1u);
    EXPECT_FALSE(std::filesystem::exists(copy) || listed(copy));
  }
}

TEST_F(Trash, OneNamedFileGoesWithItsEntryAndOnlyIfItIsAFile) {
  const std::string trashed = song("one.mp3", 4), deleted = song("two.mp3", 5);
  cleanup::file_outcome o = cleanup::remove_file(trashed, removal_method::trash);
  EXPECT_EQ(o.kind, outcome_kind::trashed);
  EXPECT_TRUE(std::filesystem::exists(trash_ + "/files/one.mp3"));
  o = cleanup::remove_file(deleted, removal_method::permanent);
  EXPECT_EQ(o.kind, outcome_kind::deleted);
  EXPECT_FALSE(listed(trashed) || listed(deleted) || std::filesystem::exists(deleted));

  // A link goes as the link; a folder, a FIFO or nothing at all is refused.
  const std::string target = song("target.mp3", 6);
  const std::string link = dir_.file("link.mp3");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(cleanup::remove_file(link, removal_method::permanent).kind, outcome_kind::deleted);
  EXPECT_TRUE(holds_song(target, 6));
  testing_support::make_dirs(dir_.file("folder.mp3"));
  ASSERT_EQ(mkfifo(dir_.file("fifo.mp3").c_str(), 0644), 0);
  for (const char* name : {"folder.mp3", "fifo.mp3", "missing.mp3"}) {
    o = cleanup::remove_file(dir_.file(name), removal_method::trash);
    EXPECT_EQ(o.kind, outcome_kind::skipped) << name;
    EXPECT_FALSE(o.reason.empty()) << name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("folder.mp3")));
}

}  // namespace
