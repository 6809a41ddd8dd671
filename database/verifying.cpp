// Reading every listed file again and giving entries whose audio changed their new digest.
#include <errno.h>
#include <limits.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "database/adding.h"
#include "database/audio_region.h"
#include "database/mp3_db.h"
#include "database/prehash.h"
#include "database/tables.h"
#include "database/walk_progress.h"
#include "database/walk_stop.h"

namespace {

struct finding {
  mp3db_verified verified = mp3db_verified_same;
  int error = 0;
  int64_t bytes_read = 0;
  bool has_digest = false;
  unsigned char digest[16] = {};
  uint32_t size = 0;
};

// Reads the file at path as it is now: through the digest a hasher computed ahead (early,
// when offered) if the file is still what it read, else here.
finding read_again(const std::string& path, const prehash::outcome* early,
                   audio_region::read_buffer& buffer) {
  finding f;
  prehash::opened_file file;
  if (!file.open(path.c_str())) {
    f.verified = mp3db_verified_unreadable;
    f.error = errno;
    return f;
  }
  // Sizes are 32-bit in the database.
  if (file.state.size > INT_MAX) {
    f.verified = mp3db_verified_unreadable;
    f.error = EFBIG;
    return f;
  }
  f.bytes_read = file.state.size;
  f.size = static_cast<uint32_t>(file.state.size);
  if (early != nullptr && early->trusted && early->state == file.state && early->has_digest) {
    f.has_digest = true;
    memcpy(f.digest, early->digest, 16);
  } else {
    try {
      f.has_digest = audio_region::digest_file(file.fd.get(), file.state.size, buffer, f.digest,
                                               &walk_stop::request());
    } catch (const std::bad_alloc&) {
      f.verified = mp3db_verified_unreadable;
      f.error = ENOMEM;
      return f;
    }
  }
  if (!f.has_digest) {
    const bool had_audio = audio_region::find(file.fd.get(), file.state.size).digestible;
    f.verified = had_audio ? mp3db_verified_unreadable : mp3db_verified_no_audio;
    f.error = had_audio ? EIO : 0;
  }
  return f;
}

// What the finding makes of the entry at index, which it changes where the file did.
mp3db_verified apply(uint32_t index, finding& f) {
  if (!f.has_digest) return f.verified;
  fileentry* e = tables::file_at(index);
  const unsigned char* listed = e->hashid >= 0 ? tables::hash_at(static_cast<uint32_t>(e->hashid))
                                                : nullptr;
  if (listed != nullptr && memcmp(listed, f.digest, 16) == 0) {
    if (e->filesize == f.size) return mp3db_verified_same;
    tables::set_content(index, e->hashid, f.size);
    return mp3db_verified_resized;
  }
  int32_t hashid = tables::find_hash(f.digest);
  if (hashid == -1) hashid = tables::append_hash(f.digest);
  tables::set_content(index, hashid, f.size);
  return mp3db_verified_changed;
}

// Where the entry that was at index when the check began is now: the callback may change
// the tables. -1 when its path is gone.
int32_t entry_now(uint32_t index, const std::string& path, uint64_t dropped_at_start) {
  if (tables::paths_dropped() == dropped_at_start) return static_cast<int32_t>(index);
  return tables::find_file(path.c_str());
}

}  // namespace

int file_verifydb(verify_cb cb, void* context) {
  auto paths = std::make_shared<std::vector<std::string>>();
  uint64_t bytes = 0;
  try {
    paths->reserve(tables::filenum());
    for (uint32_t i = 0; i < tables::filenum(); ++i) {
      paths->push_back(tables::file_at(i)->filename);
      bytes += tables::file_at(i)->filesize;
    }
  } catch (const std::bad_alloc&) {
    return 0;
  }
  walk_progress::begin();
  walk_progress::counted(paths->size(), bytes, true);
  const uint64_t dropped_at_start = tables::paths_dropped();
  std::unique_ptr<prehash::pipeline> ahead;
  const int hashers = adding::scan_hashers();
  // Without memory for reading ahead the check reads on this thread alone.
  if (hashers > 1 && !walk_stop::requested()) {
    try {
      ahead = std::make_unique<prehash::pipeline>(paths, hashers, adding::scan_lanes(),
                                                  &walk_stop::request());
    } catch (const std::bad_alloc&) {
    }
  }
  audio_region::read_buffer buffer;
  int changed = 0;
  bool stopped = false;
  for (uint32_t i = 0; i < paths->size(); ++i) {
    if ((stopped = walk_stop::requested())) break;
    const std::string& path = (*paths)[i];
    prehash::outcome early;
    bool offered = false;
    try {
      offered = ahead && ahead->take(path, buffer, &early, i);
    } catch (const std::bad_alloc&) {
    }
    finding f = read_again(path, offered ? &early : nullptr, buffer);
    // A read cut short by the stop is no finding.
    if ((stopped = walk_stop::requested())) break;
    walk_progress::file_passed(f.bytes_read);
    const int32_t index = entry_now(i, path, dropped_at_start);
    if (index == -1) continue;
    const mp3db_verified verified = apply(static_cast<uint32_t>(index), f);
    if (verified == mp3db_verified_changed || verified == mp3db_verified_resized) ++changed;
    if (cb != nullptr && cb(static_cast<uint32_t>(index), verified, f.error, context) == 0) break;
  }
  ahead.reset();
  // The request this check stopped for is used up, as a walk uses it up.
  if (stopped) walk_stop::clear();
  return changed;
}
