// Looking at runs of listed files in batches gives the answers of looking at each alone.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/process_output.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::write_file;

// A folder of 80 entries, more than two batches: readable files, names removed after the
// listing, files of mode 0, links to files, entries that are no regular files, and names
// replaced by a link to a device since the listing.
struct mixed_folder {
  testing_support::TempDir dir;
  std::vector<std::string> names;
  std::vector<bool> regular;  // as the listing showed them

  mixed_folder() {
    chmod(dir.path().c_str(), 0755);
    for (int i = 0; i < 80; ++i) {
      const std::string name = "f" + std::to_string(i) + ".mp3";
      const std::string path = dir.file(name);
      bool is_regular = true;
      switch (i % 8) {
        case 1:  // listed, then deleted
          break;
        case 2:
          write_file(path, "x");
          chmod(path.c_str(), 0);
          break;
        case 3:
          write_file(dir.file("target" + std::to_string(i)), "x");
          symlink(("target" + std::to_string(i)).c_str(), path.c_str());
          break;
        case 4:
          symlink("/dev/null", path.c_str());
          is_regular = false;
          break;
        case 5:
          mkdir(path.c_str(), 0755);
          is_regular = false;
          break;
        case 6:
          mkfifo(path.c_str(), 0644);
          is_regular = false;
          break;
        case 7:  // listed as a file, then replaced by a link to a device
          symlink("/dev/null", path.c_str());
          break;
        default:
          write_file(path, "x");
      }
      names.push_back(name);
      regular.push_back(is_regular);
    }
  }

  // The errors a checker gives for every entry, as a string to compare.
  std::string check(bool batched, bool* batching = nullptr) const {
    const platform::unique_fd folder = platform::open_folder(dir.path().c_str());
    std::vector<platform::open_checker::file> files;
    for (size_t i = 0; i < names.size(); ++i)
      files.push_back({folder.get(), names[i].c_str(), regular[i], -1});
    platform::open_checker checker(batched);
    checker.check(files.data(), files.size());
    if (batching != nullptr) *batching = checker.batching();
    std::string errors;
    for (const auto& f : files) errors += std::to_string(f.error) + " ";
    return errors;
  }
};

TEST(OpenChecker, BatchesGiveTheAnswersOfOneByOne) {
  mixed_folder folder;
  bool batching = false;
  const std::string one_by_one = folder.check(false);
  EXPECT_EQ(folder.check(true, &batching), one_by_one);
  EXPECT_NE(one_by_one.find(std::to_string(ENOENT)), std::string::npos);
  EXPECT_NE(one_by_one.find(std::to_string(EISDIR)), std::string::npos);
  // As another user the files of mode 0 cannot be read, and the two ways still agree.
  const testing_support::child_report as_user = testing_support::run_in_child([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return std::string("no");
    const std::string alone = folder.check(false);
    const std::string batched = folder.check(true);
    if (alone.find(std::to_string(EACCES)) == std::string::npos) return "readable: " + alone;
    return alone == batched ? std::string() : alone + "\n" + batched;
  });
  EXPECT_TRUE(as_user.clean()) << as_user.text;
  EXPECT_EQ(as_user.text, "");
  if (!batching) GTEST_SKIP() << "io_uring is not available here: only one by one was run";
}

// Refuses io_uring_setup with EPERM from now on in this process, as container runtimes do.
bool refuse_io_uring() {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Where io_uring is refused, and under a low descriptor limit, the files are looked at one
// by one, with the same answers.
TEST(OpenChecker, WithoutIoUringLooksOneByOne) {
  mixed_folder folder;
  const std::string one_by_one = folder.check(false);
  const auto one_by_one_in_child = [&](const std::function<bool()>& constrain) {
    return testing_support::run_in_child([&] {
      if (!constrain()) return std::string("not constrained");
      bool batching = true;
      const std::string answers = folder.check(true, &batching);
      if (batching) return std::string("batched");
      return answers == one_by_one ? std::string() : answers + "\n" + one_by_one;
    });
  };
  const testing_support::child_report filtered = one_by_one_in_child(refuse_io_uring);
  EXPECT_TRUE(filtered.clean()) << filtered.text;
  EXPECT_EQ(filtered.text, "");
  const testing_support::child_report few = one_by_one_in_child([] {
    struct rlimit files = {64, 64};
    return setrlimit(RLIMIT_NOFILE, &files) == 0;
  });
  EXPECT_TRUE(few.clean()) << few.text;
  EXPECT_EQ(few.text, "");
}

}  // namespace
