// Shared by the store's tests: a fresh folder, captured diagnostics, a store reset to an
// empty loaded database, and database files built byte by byte.
#ifndef VARNELO_DATABASE_STORE_FIXTURE_H_
#define VARNELO_DATABASE_STORE_FIXTURE_H_

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "database/format.h"
#include "database/mp3_db.h"
#include "database/safe_save.h"
#include "database/tables.h"
#include "tests/support/captured_diagnostics.h"
#include "tests/support/mp3_files.h"
#include "tests/support/process_output.h"
#include "tests/support/table_entries.h"
#include "tests/support/temp_dir.h"

namespace store_testing {

using bytes = std::vector<unsigned char>;

inline void append_u32(bytes* out, uint32_t v) {
  unsigned char b[4];
  format::put_u32(b, v);
  out->insert(out->end(), b, b + 4);
}

struct record {
  int32_t hashid;
  uint32_t filesize;
  std::string name;
};

// A digest whose 16 bytes all derive from seed.
inline bytes digest_of(unsigned seed) {
  bytes d(16);
  for (unsigned i = 0; i < 16; ++i)
    d[i] = static_cast<unsigned char>(seed * 31 + i * 7 + (seed >> 8));
  return d;
}

inline bytes database_bytes(const std::vector<bytes>& digests, const std::vector<record>& records,
                            uint32_t stamp = format::kStampClosed) {
  bytes out;
  append_u32(&out, format::kMagic);
  append_u32(&out, static_cast<uint32_t>(digests.size()));
  append_u32(&out, static_cast<uint32_t>(records.size()));
  append_u32(&out, stamp);
  for (const bytes& d : digests) out.insert(out.end(), d.begin(), d.end());
  for (const record& r : records) {
    append_u32(&out, static_cast<uint32_t>(r.hashid));
    append_u32(&out, r.filesize);
    append_u32(&out, static_cast<uint32_t>(r.name.size()));
    out.insert(out.end(), r.name.begin(), r.name.end());
  }
  return out;
}

// Adds an entry as adding a file does: its digest is appended when not yet known.
inline uint32_t add_entry(const std::string& path, unsigned digest_seed, uint32_t size = 1000) {
  bytes d = digest_of(digest_seed);
  int32_t hashid = tables::find_hash(d.data());
  if (hashid < 0) hashid = tables::append_hash(d.data());
  return testing_support::append_entry(hashid, size, path);
}

// The tables as text, for comparing whole stores.
inline std::string describe_store() {
  std::string s;
  for (uint32_t i = 0; i < file_gethashnum(); ++i)
    s += testing_support::hex(db_gethashentry(i)) + "\n";
  for (uint32_t i = 0; i < file_getfilenum(); ++i) {
    const fileentry* e = db_getfileentry(i);
    s += std::to_string(e->hashid) + " " + std::to_string(e->filesize) + " " + e->filename + "\n";
  }
  return s;
}

// Runs check in a forked child (which may change limits, users and mounts at will) and
// gives what it reported: "" when every check held, else the first failure, or a text
// starting "skip: " when the child could not make its conditions.
inline std::string in_child(const std::function<std::string()>& check) {
  const testing_support::child_report report = testing_support::run_in_child(check);
  if (report.status == -1) return "cannot start a child";
  if (!report.clean())
    return "the child ended abnormally (status " + std::to_string(report.status) +
           "): " + report.text;
  return report.text;
}

// Skips the test when a child could not make its conditions, else expects that every
// check of the child held.
#define EXPECT_CHILD_PASSES(report)                                         \
  do {                                                                      \
    const std::string child_report = (report);                              \
    if (child_report.rfind("skip: ", 0) == 0) GTEST_SKIP() << child_report; \
    EXPECT_EQ(child_report, "");                                            \
  } while (0)

// In a child process: mounts a fresh tmpfs with options at folder, in a mount namespace of
// the child's own so that it vanishes with the child. "" on success, else "skip: why".
inline std::string mount_private_tmpfs(const std::string& folder, const std::string& options) {
  if (unshare(CLONE_NEWNS) != 0)
    return std::string("skip: no mount namespace of its own (needs root): ") + strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("skip: mounts cannot be made private: ") + strerror(errno);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
    return std::string("skip: cannot mount a tmpfs: ") + strerror(errno);
  return "";
}

// Takes every free block of the file system of folder (a file "fill") and, with inodes,
// every free inode too (empty files "fill-N").
inline void fill_file_system(const std::string& folder, bool inodes) {
  int fd = open((folder + "/fill").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    static const char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    close(fd);
  }
  for (int i = 0; inodes; ++i) {
    int more = open((folder + "/fill-" + std::to_string(i)).c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (more < 0) break;
    close(more);
  }
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    save_faults::reset();
    // Loading a valid file empties the store and forgets any unreadable file of earlier tests.
    std::string reset = dir_.file("reset.mp3db");
    testing_support::write_file(reset, database_bytes({}, {}));
    file_setdb(reset.c_str());
    ASSERT_EQ(file_opendb(), 1);
    unlink(reset.c_str());
    output();
  }
  void TearDown() override {
    save_faults::reset();
    tables::clear();
  }

  // The diagnostics printed since the last call.
  std::string output() { return diagnostics_.take(); }

  std::string path(const std::string& name) const { return dir_.file(name); }
  void use(const std::string& name) { file_setdb(path(name).c_str()); }

  testing_support::TempDir dir_;
  testing_support::captured_diagnostics diagnostics_;
};

}  // namespace store_testing

#endif  // VARNELO_DATABASE_STORE_FIXTURE_H_
