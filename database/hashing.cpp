// The content digest of an MP3 file (the MD5 digest of the file without its ID3v2 tag at
// the start and its ID3v1 tag at the end) and the small file probes behind it.
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <new>

#include "database/audio_region.h"
#include "database/mp3_db.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace {

constexpr int kId3v1Length = static_cast<int>(audio_region::kId3v1Length);
constexpr int kId3v2HeaderLength = static_cast<int>(audio_region::kId3v2HeaderLength);
constexpr size_t kPassBytes = 0x100000;  // one buffer of md5_hashfile's passes

// Opens a file for the probes. Files of 2 GiB and more lie outside the 32-bit sizes of
// the database, so they count as not openable rather than giving wrapped sizes.
platform::unique_file open_probe(const char* path) {
  platform::unique_file f = platform::open_regular(path);
  if (!f) return f;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0 || st.st_size > INT_MAX) return nullptr;
  return f;
}

using unique_digest = mp3db_owned<unsigned char>;

}  // namespace

int fileexists(const char* path) { return open_probe(path) ? 1 : 0; }

int getfilesize(const char* path) {
  platform::unique_file f = open_probe(path);
  if (!f) return -1;
  if (fseek(f.get(), 0, SEEK_END) != 0) return -1;
  long size = ftell(f.get());
  // The file may have grown past the 32-bit range since it was opened.
  return size >= 0 && size <= INT_MAX ? static_cast<int>(size) : -1;
}

int checktagid3(const char* path) {
  platform::unique_file f = open_probe(path);
  if (!f) return -1;
  // In a file shorter than the tag the seek fails and the test is made on its first bytes.
  fseek(f.get(), -kId3v1Length, SEEK_END);
  // Read single bytes: what a short read delivers is kept, and the rest stays 0.
  unsigned char tag[kId3v1Length] = {};
  (void)fread(tag, 1, kId3v1Length, f.get());
  return static_cast<int>(audio_region::id3v1_length(tag));
}

int checktagid3v2(const char* path) {
  int size = getfilesize(path);
  platform::unique_file f = open_probe(path);
  if (!f) return -1;
  unsigned char header[kId3v2HeaderLength] = {};
  (void)fread(header, 1, kId3v2HeaderLength, f.get());
  return static_cast<int>(audio_region::id3v2_length(header, size));
}

// One open and a read buffer of fixed size, whatever the size of the file: the region is
// found and digested as the walk's hashers do, which is what the probes above and a single
// read of the region would give (a region that cannot be read whole gives null).
unsigned char* md5_hashfile_fast(const char* path) {
  platform::file_state state;
  platform::unique_fd fd = platform::open_regular_fd(path, &state);
  if (!fd) return nullptr;
  unique_digest digest(static_cast<unsigned char*>(malloc(16)));
  if (!digest) return nullptr;
  try {
    audio_region::read_buffer buffer;
    if (!audio_region::digest_file(fd.get(), state.size, buffer, digest.get())) return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return digest.release();
}

unsigned char* md5_hashfile(const char* path) {
  int t1 = checktagid3(path);
  int t2 = checktagid3v2(path);
  int size = getfilesize(path);

  unique_digest digest(static_cast<unsigned char*>(malloc(16)));
  mp3db_owned<unsigned char> first(static_cast<unsigned char*>(malloc(kPassBytes)));
  mp3db_owned<unsigned char> second(static_cast<unsigned char*>(malloc(kPassBytes)));
  if (!digest || !first || !second) return nullptr;
  md5_state state;
  md5_init(&state);
  platform::unique_file f = open_probe(path);
  if (!f) return nullptr;
  int64_t offset = t2 > 0 ? t2 : 0;
  if (fseek(f.get(), offset, SEEK_SET) != 0) offset = 0;
  // The ID3v1 tag starts here; bytes at or beyond it are left out of every pass.
  const int64_t tag_start = t1 != 0 ? static_cast<int64_t>(size) - kId3v1Length : INT64_MAX;
  for (;;) {
    size_t n1 = fread(first.get(), 1, kPassBytes, f.get());
    size_t n2 = fread(second.get(), 1, kPassBytes, f.get());
    if (n1 + n2 == 0) break;
    int64_t keep = tag_start - offset;
    if (keep < 0) keep = 0;
    size_t k1 = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n1), keep));
    size_t k2 = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(n2), keep - static_cast<int64_t>(k1)));
    md5_append(&state, first.get(), static_cast<int32_t>(k1));
    md5_append(&state, second.get(), static_cast<int32_t>(k2));
    offset += static_cast<int64_t>(n1 + n2);
    if (feof(f.get())) break;
  }
  md5_finish(&state, digest.get());
  return digest.release();
}
