// Scans whose threads cannot have memory: the process goes on, the workers leave their files
// to the calling thread, and a file that no thread has memory to read is skipped with a
// message. This program replaces the global operator new so that allocations can be made to
// fail where a test chooses, through the very calls the library makes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "database/audio_region.h"
#include "database/folder_walk.h"
#include "database/lane_hashing.h"
#include "database/mp3_db.h"
#include "database/prehash.h"
#include "database/scan_test_util.h"
#include "database/tables.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace {

enum class refusal {
  none,
  worker_buffers,    // a hasher's read buffer, on any thread but the test's
  off_the_test,      // every allocation of any thread but the test's
  buffers_anywhere,  // a hasher's read buffer, on every thread
  look_runs,         // the outcomes of a run of listed files looked at, off the test's thread
};
std::atomic<refusal> g_refusal{refusal::none};
std::atomic<std::thread::id> g_test_thread;

bool refused(size_t n) {
  const refusal r = g_refusal.load(std::memory_order_relaxed);
  if (r == refusal::none) return false;
  // The lanes' block is the only allocation of its size or more.
  const bool buffer = n == audio_region::read_buffer::kBytes || n >= lane_hashing::block_bytes(1);
  const bool elsewhere = std::this_thread::get_id() != g_test_thread.load();
  switch (r) {
    case refusal::worker_buffers:
      return buffer && elsewhere;
    case refusal::off_the_test:
      return elsewhere;
    case refusal::buffers_anywhere:
      return buffer;
    case refusal::look_runs:
      return elsewhere && n % sizeof(prehash::outcome) == 0 && n >= 8 * sizeof(prehash::outcome);
    case refusal::none:
      break;
  }
  return false;
}

}  // namespace

// The replacements below pair malloc with free throughout, which the compiler cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t n) {
  if (refused(n)) throw std::bad_alloc();
  if (void* p = malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  return refused(n) ? nullptr : malloc(n != 0 ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

class ScanWithoutMemory : public scan_test::scan_fixture,
                          public ::testing::WithParamInterface<scan_test::hashing> {
 protected:
  void SetUp() override {
    scan_test::scan_fixture::SetUp();
    g_test_thread = std::this_thread::get_id();
    scan_test::use_hashing(GetParam());
    alarm(120);
    // Four folders of six songs, larger than one read buffer, with copies among them.
    for (int f = 0; f < 4; ++f) {
      testing_support::make_dirs(dir_.file("F" + std::to_string(f)));
      for (int i = 0; i < 6; ++i) {
        testing_support::mp3_parts p;
        p.has_id3v2 = true;
        p.id3v2_body = 100;
        p.audio = testing_support::random_bytes(300000, static_cast<uint32_t>((f * 6 + i) % 17));
        testing_support::write_file(dir_.file("F" + std::to_string(f) + "/" + std::to_string(i) +
                                              ".mp3"),
                                    testing_support::make_mp3(p));
      }
    }
    scan_test::let_settle();
    // What a scan with memory to spare builds.
    whole_ = walk();
    ASSERT_EQ(whole_.files.size(), 24u);
    tables::clear();
  }
  void TearDown() override {
    g_refusal = refusal::none;
    alarm(0);
    scan_test::scan_fixture::TearDown();
  }

  scan_test::tables_copy walk() {
    std::string buffer = dir_.path();
    add_directory(buffer.data(), nullptr, nullptr);
    return scan_test::copy_tables();
  }

  testing_support::TempDir dir_;
  scan_test::tables_copy whole_;
};

TEST_P(ScanWithoutMemory, WorkersWithoutReadBuffersLeaveTheirFilesToTheCaller) {
  g_refusal = refusal::worker_buffers;
  EXPECT_TRUE(walk() == whole_);
  g_refusal = refusal::none;
  if (GetParam().hashers > 1) {
    // Every digest came from the test's own thread: while it waited, or when it added.
    const prehash::counters c = folder_walk::last_walk_counters();
    EXPECT_EQ(c.hashed_ahead, 0u);
    EXPECT_EQ(c.used, c.hashed_helping);
    EXPECT_EQ(c.used + c.hashed_on_caller, 24u);
    EXPECT_GE(c.workers_retired, 1u);
  }
  scan_test::expect_current_digests();
}

TEST_P(ScanWithoutMemory, ThreadsWithoutAnyMemoryLeaveTheScanWhole) {
  g_refusal = refusal::off_the_test;
  EXPECT_TRUE(walk() == whole_);
  g_refusal = refusal::none;
  scan_test::expect_current_digests();
}

TEST_P(ScanWithoutMemory, FilesNoThreadHasMemoryToReadAreSkippedWithAMessage) {
  scan_test::captured_output out;
  g_refusal = refusal::buffers_anywhere;
  EXPECT_TRUE(walk().files.empty());
  EXPECT_EQ(md5_hashfile_fast(dir_.file("F0/0.mp3").c_str()), nullptr);
  EXPECT_EQ(file_add(dir_.file("F0/0.mp3").c_str()), 0);
  g_refusal = refusal::none;
  const std::string text = out.text();
  std::set<std::string> told;
  for (size_t at = 0; (at = text.find("Warning file not read:", at)) != std::string::npos;) {
    const size_t end = text.find('\n', at);
    told.insert(text.substr(at, end - at));
    at = end;
  }
  EXPECT_EQ(told.size(), 24u) << text;
  mp3db_walk_report report;
  mp3db_get_walk_report(&report);
  EXPECT_EQ(report.files_unread, 24u);
  EXPECT_EQ(report.problems[0].error_number, ENOMEM);
  // With memory again, the same scan takes every file.
  EXPECT_TRUE(walk() == whole_);
}

// A rescan whose threads cannot look at listed files: they retire, and the calling thread
// looks at every file itself.
TEST_P(ScanWithoutMemory, ThreadsWithoutMemoryToLookAtListedFilesRetire) {
  testing_support::make_dirs(dir_.file("many"));
  for (int i = 0; i < 400; ++i)
    testing_support::write_file(dir_.file("many/" + std::to_string(i) + ".mp3"),
                                testing_support::random_bytes(500, static_cast<uint32_t>(i)));
  scan_test::let_settle();
  const scan_test::tables_copy listed = walk();
  ASSERT_EQ(listed.files.size(), 424u);
  g_refusal = refusal::look_runs;
  EXPECT_TRUE(walk() == listed);
  g_refusal = refusal::none;
}

INSTANTIATE_TEST_SUITE_P(Hashing, ScanWithoutMemory,
                         scan_test::every_hashing(), scan_test::hashing_name);

}  // namespace
