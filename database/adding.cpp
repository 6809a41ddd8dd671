// Adding one file: its digest, its file entry and, for a new digest, its hash entry.
#include "database/adding.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <new>
#include <thread>

#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "database/tables.h"
#include "platform/platform.h"

namespace {

int g_scan_workers = 0;  // 0: one per core
mp3db_lanes g_scan_lanes = mp3db_lanes_widest;
constexpr int kMaxScanWorkers = 64;

// The public names stand for the digest's own code paths.
static_assert(mp3db_lanes_widest == static_cast<int>(md5_lanes_auto));
static_assert(mp3db_lanes_scalar == static_cast<int>(md5_lanes_scalar));
static_assert(mp3db_lanes_avx2 == static_cast<int>(md5_lanes_avx2));
static_assert(mp3db_lanes_avx512 == static_cast<int>(md5_lanes_avx512));

bool stop_requested(const walk_stop::flag* stop) {
  return stop != nullptr && stop->load(std::memory_order_acquire);
}

// How recent a look at a listed file must be to stand for opening it now.
constexpr int64_t kLookStaysTrueNs = 1'000'000'000;

// Whether another thread found the file listed and openable, just now: then the walk need
// not open it, which is most of what a walk through listed files costs.
bool seen_listed_and_openable(const prehash::outcome& early) {
  return early.listed && early.listed_mark == tables::paths_dropped() && early.opened &&
         prehash::steady_ns() - early.seen_at < kLookStaysTrueNs;
}

// The content digest of the open file: the one computed ahead (early, when offered) when it
// was computed from the file exactly as it is now, else one computed here. Throws
// std::bad_alloc when the buffer cannot have its memory.
bool content_digest(int fd, const platform::file_state& now, const prehash::outcome* early,
                    prehash::pipeline* ahead, audio_region::read_buffer& buffer,
                    const walk_stop::flag* stop, unsigned char digest[16]) {
  const bool current = early != nullptr && early->trusted && early->state == now;
  // A digest computed ahead is taken; where there was none, the file is looked at here,
  // which tells a file without audio bytes from one whose read failed or was stopped.
  if (current && early->has_digest) {
    ahead->note_used();
    std::copy(early->digest, early->digest + 16, digest);
    return true;
  }
  if (early != nullptr && !current && !early->listed) ahead->note_rejected();
  if (ahead != nullptr) ahead->note_hashed_on_caller();
  return audio_region::digest_file(fd, now.size, buffer, digest, stop);
}

// Whether the digest computed ahead stands for the file the walk finds at its place now:
// the same file, unchanged since it was read (and not changed while it was read). The walk
// then need not open it again.
bool digested_as_found(const prehash::outcome& early, const adding::file_place& place) {
  platform::file_state now;
  return early.trusted && early.has_digest && early.state.size <= INT_MAX &&
         platform::state_at(place.folder, place.name, &now) && now == early.state;
}

// Appends the entry of path with its size and digest (ahead: the pipeline it came from, if
// so).
adding::add_outcome add_entry(const char* path, int64_t size, const unsigned char digest[16],
                              prehash::pipeline* ahead) {
  auto* entry = static_cast<fileentry*>(malloc(sizeof(fileentry)));
  char* name = stringcpy(path);
  if (entry == nullptr || name == nullptr) {
    free(entry);
    free(name);
    db_print("Warning file not read:%s\n", path);
    return {adding::result::unreadable, ENOMEM};
  }
  if (ahead != nullptr) ahead->note_used();
  entry->filename = name;
  // The size fits: larger files were turned away before.
  entry->filesize = static_cast<uint32_t>(size);
  int32_t hashid = tables::find_hash(digest);
  entry->hashid = hashid != -1 ? hashid : tables::append_hash(digest);
  tables::append_file(entry);
  return {adding::result::added, 0, size};
}

}  // namespace

namespace adding {

add_outcome add_file(const char* path, const file_place* place, prehash::pipeline* ahead,
                     audio_region::read_buffer& buffer, const walk_stop::flag* stop) {
  prehash::outcome early;
  const bool offered =
      ahead != nullptr && ahead->take(path, buffer, &early, place != nullptr ? place->order : -1);
  // Otherwise (not looked at ahead, or found unopenable) the file is opened here, so that
  // one that cannot be is warned of as ever.
  if (offered && seen_listed_and_openable(early)) return {};
  if (offered && place != nullptr && digested_as_found(early, *place)) {
    if (tables::find_file(path) != -1) return {};
    if (stop_requested(stop)) return {result::stopped};
    return add_entry(path, early.state.size, early.digest, ahead);
  }
  platform::file_state now;
  // The descriptor stays open for the digest, so that the size recorded and the bytes
  // digested come from the file that was found here.
  platform::unique_fd fd = place != nullptr
                               ? platform::open_regular_fd_at(place->folder, place->name, &now)
                               : platform::open_regular_fd(path, &now);
  if (!fd) {
    const int error = errno;
    db_print("Warning file not found:%s\n", path != nullptr ? path : "(null)");
    return {result::unreadable, error};
  }
  if (tables::find_file(path) != -1) return {};
  if (stop_requested(stop)) return {result::stopped};
  // Sizes are 32-bit in the database: such a file gets no digest.
  if (now.size > INT_MAX) return {result::unreadable, EFBIG};

  unsigned char digest[16];
  bool has_digest;
  try {
    has_digest =
        content_digest(fd.get(), now, offered ? &early : nullptr, ahead, buffer, stop, digest);
  } catch (const std::bad_alloc&) {
    db_print("Warning file not read:%s\n", path);
    return {result::unreadable, ENOMEM};
  }
  if (stop_requested(stop)) return {result::stopped};
  if (!has_digest) {
    const bool had_audio = audio_region::find(fd.get(), now.size).digestible;
    return had_audio ? add_outcome{result::unreadable, EIO, now.size}
                     : add_outcome{result::passed_over, 0, now.size};
  }

  return add_entry(path, now.size, digest, nullptr);
}

int scan_hashers() {
  if (g_scan_workers > 0) return g_scan_workers;
  return static_cast<int>(
      std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxScanWorkers)));
}

std::optional<md5_lanes_path> scan_lanes() {
  if (g_scan_lanes == mp3db_lanes_off) return std::nullopt;
  const auto path = static_cast<md5_lanes_path>(g_scan_lanes);
  if (!md5_lanes_available(path)) return std::nullopt;
  return path;
}

}  // namespace adding

int file_add(const char* path) {
  audio_region::read_buffer buffer;
  return adding::add_file(path, nullptr, nullptr, buffer, nullptr).what == adding::result::added
             ? 1
             : 0;
}

void mp3db_set_scan_workers(int workers) {
  g_scan_workers = std::clamp(workers, 0, kMaxScanWorkers);
}

void mp3db_set_lanes(mp3db_lanes lanes) {
  // A value from outside the enum (a cast number) counts as off.
  g_scan_lanes = lanes >= mp3db_lanes_widest && lanes <= mp3db_lanes_avx512 ? lanes
                                                                              : mp3db_lanes_off;
}
