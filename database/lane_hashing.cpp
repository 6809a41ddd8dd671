// Content digests of many files in lanes. Each file is opened once: its size, ID3v1 and
// ID3v2 probes are read through that one descriptor with the same rules as the path-based
// probes of hashing.cpp, and its audio region is streamed to the lanes in pieces.
#include "database/lane_hashing.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

namespace {

constexpr int64_t kId3v1Length = 128;
constexpr int64_t kId3v2HeaderLength = 10;
constexpr size_t kPieceBytes = size_t{256} << 10;  // one lane's read buffer

// Reads up to n bytes at offset, retrying short reads; the count read, or -1 on an error.
int64_t read_at(int fd, uint8_t* buf, size_t n, int64_t offset) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = pread(fd, buf + got, n - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(got);
}

// The audio region of an open file by the rules of checktagid3, checktagid3v2 and
// md5_hashfile_fast. False when md5_hashfile_fast would give no digest.
bool audio_region(int fd, int64_t size, int64_t* start, int64_t* length) {
  // ID3v1: the last 128 bytes, or the first bytes of a file shorter than the tag.
  uint8_t tail[3] = {};
  if (read_at(fd, tail, 3, size >= kId3v1Length ? size - kId3v1Length : 0) < 0) return false;
  int64_t t1 = memcmp(tail, "TAG", 3) == 0 ? kId3v1Length : 0;
  // ID3v2: the header's size bytes taken as signed 8-bit values, used only when
  // 0 < n < size.
  uint8_t header[kId3v2HeaderLength] = {};
  if (read_at(fd, header, sizeof header, 0) < 0) return false;
  int64_t t2 = 0;
  if (memcmp(header, "ID3", 3) == 0) {
    auto b = [&](int i) { return static_cast<int64_t>(static_cast<int8_t>(header[i])); };
    int64_t n = ((b(6) * 128 + b(7)) * 128 + b(8)) * 128 + b(9) + kId3v2HeaderLength;
    if (n > 0 && n < size) t2 = n;
  }
  *start = t2;
  *length = size > 0 ? size - t2 - t1 : 0;
  return size == 0 || *length > 0;
}

// A file in a lane: its descriptor, its region and the lane's read buffer.
struct open_file {
  platform::unique_file file;
  int64_t start = 0;
  int64_t length = 0;
  uint8_t* buffer = nullptr;
};

}  // namespace

struct lane_hasher::state {
  md5_lanes_path path;
  std::vector<uint8_t*> free_buffers;  // each kPieceBytes, owned here
  std::vector<uint8_t*> all_buffers;
  std::vector<open_file> files;        // by job index, for the jobs of one batch
  lane_hash_job* jobs = nullptr;
  size_t count = 0;
  size_t next = 0;

  ~state() {
    for (uint8_t* b : all_buffers) free(b);
  }

  // Opens the next job that has a region to digest; jobs that fail on the way are marked.
  static int next_message(void* c, size_t* message) {
    auto* s = static_cast<state*>(c);
    while (s->next < s->count) {
      size_t i = s->next++;
      lane_hash_job& job = s->jobs[i];
      open_file& f = s->files[i];
      f.file = platform::open_regular(job.path);
      if (!f.file) continue;
      int fd = fileno(f.file.get());
      // Files of 2 GiB and more lie outside the database's 32-bit sizes, as for the probes.
      if (fstat(fd, &job.seen) != 0 || job.seen.st_size > INT_MAX ||
          !audio_region(fd, job.seen.st_size, &f.start, &f.length)) {
        f.file.reset();
        continue;
      }
      f.buffer = s->free_buffers.back();
      s->free_buffers.pop_back();
      *message = i;
      return 1;
    }
    return 0;
  }

  // Reads the region in whole buffers; a file that ends early fails, as a short read
  // fails md5_hashfile_fast.
  static int64_t next_chunk(void* c, size_t message, uint64_t offset, const uint8_t** data) {
    auto* s = static_cast<state*>(c);
    open_file& f = s->files[message];
    int64_t left = f.length - static_cast<int64_t>(offset);
    if (left <= 0) return 0;
    size_t want = left < static_cast<int64_t>(kPieceBytes) ? static_cast<size_t>(left) : kPieceBytes;
    int64_t got = read_at(fileno(f.file.get()), f.buffer, want,
                          f.start + static_cast<int64_t>(offset));
    if (got != static_cast<int64_t>(want)) return -1;
    *data = f.buffer;
    return got;
  }

  static void digest_ready(void* c, size_t message, const uint8_t* digest) {
    auto* s = static_cast<state*>(c);
    lane_hash_job& job = s->jobs[message];
    open_file& f = s->files[message];
    if (digest) {
      memcpy(job.digest, digest, 16);
      job.ok = 1;
    }
    f.file.reset();
    s->free_buffers.push_back(f.buffer);
    f.buffer = nullptr;
  }
};

lane_hasher::lane_hasher(md5_lanes_path path) : state_(new state) {
  state_->path = path == md5_lanes_auto ? md5_lanes_best() : path;
}

lane_hasher::~lane_hasher() = default;

bool lane_hasher::hash(lane_hash_job* jobs, size_t count) {
  for (size_t i = 0; i < count; ++i) jobs[i].ok = 0;
  state& s = *state_;
  size_t width = static_cast<size_t>(md5_lanes_width(s.path));
  while (s.all_buffers.size() < width) {
    auto* b = static_cast<uint8_t*>(malloc(kPieceBytes));
    if (!b) return false;
    s.all_buffers.push_back(b);
    s.free_buffers.push_back(b);
  }
  s.files.clear();
  s.files.resize(count);
  s.jobs = jobs;
  s.count = count;
  s.next = 0;
  md5_lanes_source source = {&s, state::next_message, state::next_chunk, state::digest_ready};
  md5_lanes_run(&source, s.path);
  s.files.clear();
  return true;
}
