// Digesting open files' audio regions in lanes: each lane streams its region through its
// own reused buffer, and a lane whose file ends takes the next file at once.
#include "database/lane_hashing.h"

#include <fcntl.h>
#include <stdint.h>

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace lane_hashing {

namespace {
constexpr size_t kPieceBytes = audio_region::read_buffer::kBytes;
}  // namespace

// A file in a lane. The lane scheduler's message number is the slot's index.
struct hasher::slot {
  size_t tag = 0;
  region_job job;
  unsigned char* buffer = nullptr;
  bool busy = false;
};

hasher::hasher(md5_lanes_path path)
    : path_(path == md5_lanes_auto ? md5_lanes_best() : path), width_(md5_lanes_width(path_)) {}

hasher::~hasher() = default;

bool hasher::run(const next_fn& next, const done_fn& done, const walk_stop::flag* stop) {
  if (width_ <= 0) return false;
  while (buffers_.size() < static_cast<size_t>(width_)) {
    std::unique_ptr<unsigned char[]> b(new (std::nothrow) unsigned char[kPieceBytes]);
    if (!b) return false;
    buffers_.push_back(std::move(b));
  }
  std::vector<slot> slots(static_cast<size_t>(width_));
  for (size_t i = 0; i < slots.size(); ++i) slots[i].buffer = buffers_[i].get();

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
    for (;;) {
      if (!c->next(&free_slot->tag, &free_slot->job)) return 0;
      if (free_slot->job.region.digestible) break;
      c->done(free_slot->tag, false, nullptr);
    }
    free_slot->busy = true;
    if (free_slot->job.region.length > 0) {
      posix_fadvise(free_slot->job.fd, free_slot->job.region.offset, free_slot->job.region.length,
                    POSIX_FADV_SEQUENTIAL);
    }
    *message = static_cast<size_t>(free_slot - c->slots.begin());
    return 1;
  };
  auto next_chunk = [](void* p, size_t message, uint64_t offset, const uint8_t** data) -> int64_t {
    auto* c = static_cast<context*>(p);
    slot& s = c->slots[message];
    const int64_t left = s.job.region.length - static_cast<int64_t>(offset);
    if (left <= 0) return 0;
    if (c->stop != nullptr && c->stop->load(std::memory_order_relaxed)) return -1;
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kPieceBytes));
    // A region that cannot be read whole gets no digest, as with audio_region::digest.
    if (platform::read_at(s.job.fd, s.buffer, want,
                          s.job.region.offset + static_cast<int64_t>(offset)) !=
        static_cast<int64_t>(want))
      return -1;
    *data = s.buffer;
    return static_cast<int64_t>(want);
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
