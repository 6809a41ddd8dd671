// Adding one file: its digest, its file entry and, for a new digest, its hash entry.
#include "database/adding.h"

#include <stdlib.h>

#include <algorithm>
#include <thread>

#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "database/tables.h"
#include "digest/md5_lanes.h"
#include "platform/platform.h"

namespace {

int g_scan_workers = 0;  // 0: one per core
int g_scan_lanes = md5_lanes_auto;
constexpr int kMaxScanWorkers = 64;

}  // namespace

namespace adding {

int add_file(const char* path, prehash::pipeline* ahead, audio_region::read_buffer& buffer) {
  platform::file_state now;
  // The descriptor stays open for the digest, so that the size recorded and the bytes
  // digested come from the file that was found here.
  platform::unique_fd fd = platform::open_regular_fd(path, &now);
  if (!fd) {
    db_print("Warning file not found:%s\n", path != nullptr ? path : "(null)");
    return 0;
  }
  if (tables::find_file(path) != -1) return 0;

  unsigned char digest[16];
  bool has_digest = false;
  prehash::outcome early;
  const bool offered = ahead != nullptr && ahead->take(path, buffer, &early);
  if (offered && early.trusted && early.state == now) {
    ahead->note_used();
    has_digest = early.has_digest;
    std::copy(early.digest, early.digest + 16, digest);
  } else {
    // Hashed ahead from another version of the file, or not at all: hash it as it is now.
    if (offered) ahead->note_rejected();
    if (ahead != nullptr) ahead->note_hashed_on_caller();
    has_digest = audio_region::digest_file(fd.get(), now.size, buffer, digest);
  }
  if (!has_digest) return 0;

  auto* entry = static_cast<fileentry*>(malloc(sizeof(fileentry)));
  if (entry == nullptr) return 0;
  entry->filename = stringcpy(path);
  // digest_file gives no digest for files beyond 32-bit sizes, so the size fits.
  entry->filesize = static_cast<uint32_t>(now.size);
  int32_t hashid = tables::find_hash(digest);
  entry->hashid = hashid != -1 ? hashid : tables::append_hash(digest);
  tables::append_file(entry);
  return 1;
}

int scan_hashers() {
  if (g_scan_workers > 0) return g_scan_workers;
  return static_cast<int>(
      std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxScanWorkers)));
}

int scan_lanes() {
  if (g_scan_lanes == prehash::kNoLanes) return prehash::kNoLanes;
  return md5_lanes_available(static_cast<md5_lanes_path>(g_scan_lanes)) ? g_scan_lanes
                                                                         : prehash::kNoLanes;
}

}  // namespace adding

int file_add(const char* path) {
  audio_region::read_buffer buffer;
  return adding::add_file(path, nullptr, buffer);
}

void mp3db_set_scan_workers(int workers) {
  g_scan_workers = std::clamp(workers, 0, kMaxScanWorkers);
}

void mp3db_set_scan_lanes(int path) {
  g_scan_lanes = path >= md5_lanes_auto && path <= md5_lanes_avx512 ? path : prehash::kNoLanes;
}
