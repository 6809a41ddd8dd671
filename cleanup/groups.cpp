// Grouping by digest in one pass over the file table: each digest keeps a chain of its files
// in table order, and a walk over the digests then lays the chains out group after group.
// The same groups, order and statistics as asking for each digest's files separately, in
// time linear in files and digests.
#include "cleanup/groups.h"

#include <string.h>

#include "database/mp3_db.h"

namespace cleanup {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

// What the pass gathers per digest.
struct digest_tally {
  uint32_t count = 0;
  uint32_t head = kNone, tail = kNone;  // first and last file of the chain
  uint32_t first_size = 0;              // size of the first file, which is no duplicate
  uint64_t bytes = 0, mb = 0;
};

}  // namespace

duplicate_groups group_by_digest() {
  duplicate_groups out;
  const uint32_t hashnum = file_gethashnum();
  const uint32_t filenum = file_getfilenum();
  out.hashnum = hashnum;
  out.statistics.files = filenum;

  std::vector<digest_tally> tally(hashnum);
  std::vector<uint32_t> next(filenum, kNone);
  for (uint32_t k = 0; k < filenum; ++k) {
    const fileentry* f = db_getfileentry(k);
    if (f == nullptr || f->hashid < 0 || static_cast<uint32_t>(f->hashid) >= hashnum) continue;
    digest_tally& t = tally[static_cast<uint32_t>(f->hashid)];
    if (t.count++ == 0) {
      t.head = k;
      t.first_size = f->filesize;
    } else {
      next[t.tail] = k;
    }
    t.tail = k;
    t.bytes += f->filesize;
    t.mb += whole_megabytes(f->filesize);
  }

  group_statistics& s = out.statistics;
  for (uint32_t h = 0; h < hashnum; ++h) {
    const digest_tally& t = tally[h];
    if (t.count == 0) continue;
    if (t.count == 1) {
      s.total_bytes += t.bytes;
      s.total_mb += t.mb;
      continue;
    }
    // Every hashid below hashnum has its digest.
    const unsigned char* digest = db_gethashentry(h);
    digest_group g{static_cast<int32_t>(h), {}, static_cast<uint32_t>(out.files.size()), t.count};
    memcpy(g.digest.data(), digest, g.digest.size());
    out.groups.push_back(g);
    for (uint32_t k = t.head; k != kNone; k = next[k]) out.files.push_back(k);
    s.duplicates += t.count - 1;
    s.duplicate_bytes += t.bytes - t.first_size;
    s.duplicate_mb += t.mb - whole_megabytes(t.first_size);
    s.total_bytes += t.bytes;
    s.total_mb += t.mb;
  }
  return out;
}

}  // namespace cleanup
