// Grouping the file table by digest. The view asks for each digest's files separately,
// which costs digests times files; one counting pass and one filling pass give the same
// groups in the same order.
#include "cli/duplicate_groups.h"

#include "database/mp3_db.h"

int64_t whole_megabytes(uint32_t filesize) { return filesize / 1048576u; }

duplicate_listing list_duplicates() {
  duplicate_listing listing;
  uint32_t hashnum = file_gethashnum();
  uint32_t filenum = file_getfilenum();
  listing.statistics.files = filenum;

  std::vector<uint32_t> counts(hashnum, 0);
  for (uint32_t i = 0; i < filenum; ++i) {
    const fileentry* entry = db_getfileentry(i);
    // A loaded file may carry a hashid outside the table: it belongs to no digest.
    if (entry->hashid < 0 || static_cast<uint32_t>(entry->hashid) >= hashnum) continue;
    ++counts[entry->hashid];
    listing.statistics.total_mb += whole_megabytes(entry->filesize);
  }

  // Slot of each digest's group in the listing, or -1 for digests with fewer than two files.
  std::vector<int32_t> slot(hashnum, -1);
  for (uint32_t h = 0; h < hashnum; ++h) {
    if (counts[h] < 2) continue;
    slot[h] = static_cast<int32_t>(listing.groups.size());
    listing.groups.push_back({static_cast<int32_t>(h), {}});
    listing.groups.back().files.reserve(counts[h]);
  }
  for (uint32_t i = 0; i < filenum; ++i) {
    const fileentry* entry = db_getfileentry(i);
    if (entry->hashid < 0 || static_cast<uint32_t>(entry->hashid) >= hashnum) continue;
    int32_t s = slot[entry->hashid];
    if (s < 0) continue;
    std::vector<int32_t>& files = listing.groups[s].files;
    if (!files.empty()) {
      ++listing.statistics.duplicates;
      listing.statistics.duplicate_mb += whole_megabytes(entry->filesize);
    }
    files.push_back(static_cast<int32_t>(i));
  }
  return listing;
}
