// The duplicates listing: the files of the open database grouped by content digest (by the
// cleanup library), with the statistics and texts of the duplicates view.
#ifndef VARNELO_UI_DUPLICATES_LISTING_H_
#define VARNELO_UI_DUPLICATES_LISTING_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "cleanup/groups.h"
#include "database/mp3_db.h"

// One digest that two or more files share.
struct duplicate_group {
  int32_t hashid;
  unsigned char digest[16];
  uint32_t first;  // position of its first file in duplicate_listing::files
  uint32_t count;
};

struct duplicate_listing {
  // Groups in ascending hash index; each group's file indexes ascending.
  std::vector<duplicate_group> groups;
  std::vector<uint32_t> files;
  // Hash indexes with two or more files whose digest could not be fetched (no group).
  std::vector<int32_t> missing_digests;
  int32_t duplicates = 0;    // files in second or later place of their group
  int32_t duplicate_mb = 0;  // their whole megabytes
  int32_t total_mb = 0;      // whole megabytes of every file whose hashid names a hash entry
  uint32_t hashnum = 0;
  // The progress pair the last group left on the status lines; empty without groups.
  std::string progress_middle, progress_upper;
};

// Lists the open database. Files whose hashid is not a valid hash index are not listed
// and not counted, as the per-digest accessors would never find them.
duplicate_listing list_duplicates();

// A file's whole megabytes: its size divided by 1,048,576, rounded down.
using cleanup::whole_megabytes;

// The item and status texts of the view.
std::string group_label(int32_t files, const unsigned char digest[16]);
std::string file_label(const fileentry& file);
std::string hash_progress_text(uint32_t index, uint32_t hashnum);
std::string summary_middle_text(int32_t duplicates, int32_t duplicate_mb);
std::string summary_upper_text(uint32_t files, int32_t total_mb);

#endif  // VARNELO_UI_DUPLICATES_LISTING_H_
