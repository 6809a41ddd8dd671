// Shared by the cleanup library's tests: a fresh database in a temporary folder, MP3-like
// songs written and added to it, and a trash of the test's own.
#ifndef VARNELO_CLEANUP_CLEANUP_FIXTURE_H_
#define VARNELO_CLEANUP_CLEANUP_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "cleanup/groups.h"
#include "database/mp3_db.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"

namespace cleanup_testing {

using testing_support::bytes;

// The audio bytes of song number seed: songs of one seed are copies of one recording.
inline bytes audio_of(uint32_t seed) {
  return testing_support::random_bytes(3000 + seed % 7, seed);
}

inline cleanup::digest_bytes digest_of_audio(uint32_t seed) {
  const bytes d = testing_support::md5_of(audio_of(seed));
  cleanup::digest_bytes out;
  memcpy(out.data(), d.data(), out.size());
  return out;
}

// The real path of path (links resolved), as the rules show folders.
inline std::string real(const std::string& path) {
  return std::filesystem::canonical(path).string();
}

// The trash of this test process, in a temporary folder (tests/support/temp_dir.h).
inline const std::string& test_trash() { return testing_support::use_own_trash(); }

// True when the file at path is a copy of song seed as write_song makes them: an ID3v2 tag,
// then exactly the song's audio. Read here without the library.
inline bool holds_song(const std::string& path, uint32_t seed) {
  const bytes file = testing_support::read_file(path);
  if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return false;
  const size_t tag =
      10 + (size_t{file[6]} << 21 | size_t{file[7]} << 14 | size_t{file[8]} << 7 | file[9]);
  return tag <= file.size() &&
         bytes(file.begin() + static_cast<long>(tag), file.end()) == audio_of(seed);
}

// A fresh, empty database for each test, its diagnostics silenced.
class CleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = fopen("/dev/null", "w");
    mp3db_set_diagnostics(sink_);
    file_setdb(dir_.file("test.mp3db").c_str());
    ASSERT_EQ(file_createdb(), 1);
  }
  void TearDown() override {
    file_unloaddb();
    mp3db_set_diagnostics(nullptr);
    if (sink_ != nullptr) fclose(sink_);
  }

  // Writes a copy of song seed at name (folders made as needed), its ID3v2 tag tag_body
  // bytes long so that copies differ as files, and adds it to the database.
  std::string song(const std::string& name, uint32_t seed, size_t tag_body = 10) {
    const std::string path = dir_.file(name);
    write_song(path, seed, tag_body);
    EXPECT_EQ(file_add(path.c_str()), 1) << path;
    return path;
  }
  static void write_song(const std::string& path, uint32_t seed, size_t tag_body = 10) {
    testing_support::make_dirs(std::filesystem::path(path).parent_path());
    testing_support::mp3_parts parts;
    parts.has_id3v2 = true;
    parts.id3v2_body = tag_body;
    parts.audio = audio_of(seed);
    testing_support::write_file(path, testing_support::make_mp3(parts));
  }

  // True when the database lists path.
  static bool listed(const std::string& path) {
    return get_fileentrybyfilename(path.c_str()) != -1;
  }

  testing_support::TempDir dir_;
  FILE* sink_ = nullptr;
};

}  // namespace cleanup_testing

#endif  // VARNELO_CLEANUP_CLEANUP_FIXTURE_H_
