// Digesting open files' audio regions in lanes: each lane streams its region through its
// own reused buffer, and a lane whose file ends takes the next file at once.
#include "database/lane_hashing.h"

#include <limits.h>
#include <stdint.h>

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace lane_hashing {

// A file in a lane. The lane scheduler's message number is the slot's index. The buffer
// holds the file's bytes [held_at, held_at + held); the audio runs from start to end, and
// end is known (not -1) once the last bytes of the file, with the ID3v1 probe, were read.
struct hasher::slot {
  size_t tag = 0;
  region_job job;
  unsigned char* buffer = nullptr;
  bool busy = false;
  bool begun = false;
  int64_t start = 0, end = -1;
  int64_t next = 0;  // the next byte of the file to digest
  int64_t held_at = 0, held = 0;

  void take(size_t t, const region_job& j) {
    tag = t;
    job = j;
    busy = true;
    begun = false;
    start = next = held_at = held = 0;
    end = -1;
  }

  // Reads n bytes of the file at offset into the buffer; false when they cannot be read.
  bool hold(int64_t offset, int64_t n) {
    held_at = offset;
    held = n;
    return platform::read_at(job.fd, buffer, static_cast<size_t>(n), offset) == n;
  }

  // The next piece of the audio region (its length; 0 at its end), or -1 when the file
  // cannot be read or has no audio region to digest.
  int64_t piece(const uint8_t** data) {
    const int64_t size = job.size;
    if (!begun) {
      begun = true;
      // Sizes are 32-bit in the database; larger files get no digest.
      if (size < 0 || size > INT_MAX) return -1;
      if (size == 0) return 0;
      if (!hold(0, std::min<int64_t>(size, kBufferBytes))) return -1;
      unsigned char header[audio_region::kId3v2HeaderLength] = {};
      std::copy_n(buffer, std::min<int64_t>(held, sizeof header), header);
      start = next = audio_region::id3v2_length(header, size);
    }
    for (;;) {
      if (end < 0 && held_at + held == size) {
        // The last bytes are here: whether they are an ID3v1 tag ends the region.
        unsigned char probe[audio_region::kId3v1Length] = {};
        const int64_t at = audio_region::id3v1_probe_offset(size);
        std::copy(buffer + (at - held_at), buffer + held, probe);
        end = size - audio_region::id3v1_length(probe);
        if (end - start <= 0) return -1;
      }
      // Until the end is known, only bytes before the probe's place are surely audio.
      const int64_t limit =
          std::min(end >= 0 ? end : size - audio_region::kId3v1Length, held_at + held);
      if (next < limit) {
        *data = buffer + (next - held_at);
        const int64_t n = limit - next;
        next = limit;
        return n;
      }
      if (end >= 0) return 0;
      // The last read takes the rest of the file with the probe; others a piece each.
      const int64_t left = size - next;
      const bool last = left <= static_cast<int64_t>(kBufferBytes);
      const int64_t from = last ? std::min(next, audio_region::id3v1_probe_offset(size)) : next;
      if (!hold(from, last ? size - from : static_cast<int64_t>(kPieceBytes))) return -1;
    }
  }
};

hasher::hasher(md5_lanes_path path)
    : path_(path == md5_lanes_auto ? md5_lanes_best() : path), width_(md5_lanes_width(path_)) {}

hasher::~hasher() = default;

bool hasher::run(const next_fn& next, const done_fn& done, const walk_stop::flag* stop) {
  if (width_ <= 0) return false;
  if (!block_) {
    block_.reset(new (std::nothrow) unsigned char[block_bytes(width_)]);
    if (!block_) return false;
    first_buffer_ = platform::huge_pages_in(block_.get(), block_bytes(width_));
  }
  std::vector<slot> slots(static_cast<size_t>(width_));
  for (size_t i = 0; i < slots.size(); ++i) slots[i].buffer = first_buffer_ + i * kLaneStride;

  struct context {
    std::vector<slot>& slots;
    const next_fn& next;
    const done_fn& done;
    const walk_stop::flag* stop;
  } c{slots, next, done, stop};

  auto next_message = [](void* p, size_t* message) -> int {
    auto* c = static_cast<context*>(p);
    auto free_slot = std::find_if(c->slots.begin(), c->slots.end(),
                                  [](const slot& s) { return !s.busy; });
    // The scheduler never holds more files than it has lanes.
    if (free_slot == c->slots.end()) return 0;
    size_t tag;
    region_job job;
    if (!c->next(&tag, &job)) return 0;
    free_slot->take(tag, job);
    *message = static_cast<size_t>(free_slot - c->slots.begin());
    return 1;
  };
  auto next_chunk = [](void* p, size_t message, uint64_t, const uint8_t** data) -> int64_t {
    auto* c = static_cast<context*>(p);
    if (c->stop != nullptr && c->stop->load(std::memory_order_relaxed)) return -1;
    return c->slots[message].piece(data);
  };
  auto digest_ready = [](void* p, size_t message, const uint8_t* digest) {
    auto* c = static_cast<context*>(p);
    slot& s = c->slots[message];
    s.busy = false;
    c->done(s.tag, digest != nullptr, digest);
  };
  md5_lanes_source source = {&c, next_message, next_chunk, digest_ready};
  return md5_lanes_run(&source, path_) == 1;
}

}  // namespace lane_hashing
