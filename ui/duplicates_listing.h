// The duplicates listing: the files of the open database grouped by content digest (by the
// cleanup library), with the statistics and texts of the duplicates view.
#ifndef VARNELO_UI_DUPLICATES_LISTING_H_
#define VARNELO_UI_DUPLICATES_LISTING_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "cleanup/groups.h"
#include "database/mp3_db.h"

struct duplicate_listing {
  // The groups by digest (cleanup/groups.h): in ascending hash index, each group's file
  // indexes ascending, and the hash indexes whose digest could not be fetched.
  cleanup::duplicate_groups grouped;
  int32_t duplicates = 0;    // files in second or later place of their group
  int32_t duplicate_mb = 0;  // their whole megabytes
  int32_t total_mb = 0;      // whole megabytes of every file whose hashid names a hash entry
  // The progress pair the last group left on the status lines; empty without groups.
  std::string progress_middle, progress_upper;
};

// Lists the open database. Files whose hashid is not a valid hash index are not listed
// and not counted, as the per-digest accessors would never find them.
duplicate_listing list_duplicates();

// A file's whole megabytes: its size divided by 1,048,576, rounded down.
using cleanup::whole_megabytes;

// The item and status texts of the view.
std::string group_label(int32_t files, const cleanup::digest_bytes& digest);
std::string file_label(const fileentry& file);
std::string hash_progress_text(uint32_t index, uint32_t hashnum);
std::string summary_middle_text(int32_t duplicates, int32_t duplicate_mb);
std::string summary_upper_text(uint32_t files, int32_t total_mb);

#endif  // VARNELO_UI_DUPLICATES_LISTING_H_
