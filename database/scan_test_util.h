// Helpers for the tests of adding and scanning: a recording progress callback, captured
// diagnostic lines, settled files and a copy of the tables to compare walks by.
#ifndef VARNELO_DATABASE_SCAN_TEST_UTIL_H_
#define VARNELO_DATABASE_SCAN_TEST_UTIL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/process_output.h"

namespace scan_test {

struct call {
  int files_new;
  int level;
  std::string name;
  std::string dir;
  window_handle hwnd;
};

// The callback of the walks under test: records every call and answers through reply
// (go on when it is empty). One walk at a time, as in the program.
inline std::vector<call> g_calls;
inline std::function<int(const call&)> g_reply;

inline int record(int files_new, int level, const char* name, const char* dir, window_handle hwnd) {
  g_calls.push_back({files_new, level, name, dir, hwnd});
  return g_reply ? g_reply(g_calls.back()) : 1;
}

inline void reset_recorder() {
  g_calls.clear();
  g_reply = nullptr;
}

// Collects the library's diagnostic lines while it lives.
using captured_output = testing_support::captured_diagnostics;

// Waits until files written so far are old enough for digests computed ahead of a walk
// to be trusted (their timestamps would show any later change).
inline void let_settle() { usleep(150 * 1000); }

struct entry_copy {
  std::string name;
  int32_t hashid;
  uint32_t filesize;
  bool operator==(const entry_copy&) const = default;
};
struct tables_copy {
  std::vector<entry_copy> files;
  std::vector<std::string> digests;
  bool operator==(const tables_copy&) const = default;
};

inline tables_copy copy_tables() {
  tables_copy c;
  for (uint32_t i = 0; db_getfileentry(i) != nullptr; ++i) {
    const fileentry* e = db_getfileentry(i);
    c.files.push_back({e->filename, e->hashid, e->filesize});
  }
  for (uint32_t i = 0; db_gethashentry(i) != nullptr; ++i)
    c.digests.emplace_back(reinterpret_cast<const char*>(db_gethashentry(i)), 16);
  return c;
}

// The digest of each entry whose file is still there is what md5_hashfile_fast gives
// for the file now.
inline void expect_current_digests() {
  for (uint32_t i = 0; db_getfileentry(i) != nullptr; ++i) {
    const fileentry* e = db_getfileentry(i);
    if (!fileexists(e->filename)) continue;
    unsigned char* want = md5_hashfile_fast(e->filename);
    ASSERT_NE(want, nullptr) << e->filename;
    const unsigned char* got = db_gethashentry(static_cast<uint32_t>(e->hashid));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(want), 16),
              std::string(reinterpret_cast<const char*>(got), 16))
        << e->filename;
    free(want);
  }
}

// The ways a walk hashes: on the calling thread alone, with workers digesting one file each,
// and with workers digesting in lanes. For tests run once with each.
struct hashing {
  int hashers;
  mp3db_lanes lanes;
};
inline auto every_hashing() {
  return ::testing::Values(hashing{1, mp3db_lanes_off}, hashing{3, mp3db_lanes_off},
                           hashing{3, mp3db_lanes_widest});
}
inline std::string hashing_name(const ::testing::TestParamInfo<hashing>& p) {
  if (p.param.hashers == 1) return "CallingThreadOnly";
  return p.param.lanes == mp3db_lanes_off ? "WithWorkers" : "WithLanes";
}
inline void use_hashing(const hashing& h) {
  mp3db_set_scan_workers(h.hashers);
  mp3db_set_lanes(h.lanes);
}

// Every test starts from empty tables, no registered pump and the default workers and lanes.
class scan_fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    tables::clear();
    reset_recorder();
    mp3db_set_event_pump(nullptr);
    mp3db_set_scan_workers(0);
    mp3db_set_lanes(mp3db_lanes_widest);
  }
  void TearDown() override {
    tables::clear();
    reset_recorder();
    mp3db_set_event_pump(nullptr);
    mp3db_set_scan_workers(0);
    mp3db_set_lanes(mp3db_lanes_widest);
  }
};

// A scan_fixture under an alarm, so that a walk that hangs fails the test instead of
// stalling the whole run.
class alarmed_fixture : public scan_fixture {
 protected:
  explicit alarmed_fixture(unsigned seconds = 120) : seconds_(seconds) {}
  void SetUp() override {
    scan_fixture::SetUp();
    alarm(seconds_);
  }
  void TearDown() override {
    alarm(0);
    scan_fixture::TearDown();
  }

 private:
  unsigned seconds_;
};

// An alarmed_fixture run once with each way of hashing.
class hashing_fixture : public alarmed_fixture, public ::testing::WithParamInterface<hashing> {
 protected:
  void SetUp() override {
    alarmed_fixture::SetUp();
    use_hashing(GetParam());
  }
};

// An alarmed_fixture run once with the calling thread hashing alone and once with workers
// digesting one file each (the parameter is the number of hashers).
class workers_fixture : public alarmed_fixture, public ::testing::WithParamInterface<int> {
 protected:
  explicit workers_fixture(unsigned seconds = 120) : alarmed_fixture(seconds) {}
  void SetUp() override {
    alarmed_fixture::SetUp();
    mp3db_set_scan_workers(GetParam());
  }
};
inline auto both_worker_counts() { return ::testing::Values(1, 3); }
inline std::string workers_name(const ::testing::TestParamInfo<int>& p) {
  return p.param == 1 ? "CallingThreadOnly" : "WithWorkers";
}

// Runs body in a child process (as the unprivileged user 65534 when as_user and running as
// root, so that a file or folder of mode 0 cannot be read) and gives back what it wrote, or
// "the child failed".
inline std::string in_child(bool as_user, const std::function<std::string()>& body) {
  const testing_support::child_report report = testing_support::run_in_child([&] {
    if (as_user && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    return body();
  });
  return report.clean() ? report.text : "the child failed";
}

// Removes a chain of folders all named segment below parent, each holding at most an
// "x.mp3", working relative to open folders because the chain is too deep for one path.
inline void remove_deep_chain(int parent, const std::string& segment) {
  int fd = openat(parent, segment.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  remove_deep_chain(fd, segment);
  unlinkat(fd, "x.mp3", 0);
  close(fd);
  unlinkat(parent, segment.c_str(), AT_REMOVEDIR);
}

}  // namespace scan_test

#endif  // VARNELO_DATABASE_SCAN_TEST_UTIL_H_
