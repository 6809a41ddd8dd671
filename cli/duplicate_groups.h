// The duplicate groups of the open database and their statistics, exactly as the window's
// duplicates view lists and counts them, computed in one pass over the file table.
#ifndef VARNELO_CLI_DUPLICATE_GROUPS_H_
#define VARNELO_CLI_DUPLICATE_GROUPS_H_

#include <stdint.h>

#include <vector>

struct duplicate_group {
  int32_t hashid;
  std::vector<int32_t> files;  // file indexes, ascending; the first is never a duplicate
};

struct duplicate_statistics {
  // Wider than the view's 32-bit counters so that very large databases cannot wrap.
  int64_t duplicates = 0;    // files after the first of each group
  int64_t duplicate_mb = 0;  // their whole megabytes
  int64_t files = 0;         // every file entry
  int64_t total_mb = 0;      // whole megabytes of every file whose hashid names a digest
};

struct duplicate_listing {
  std::vector<duplicate_group> groups;  // digests with two or more files, ascending hashid
  duplicate_statistics statistics;
};

// A file's whole megabytes: its size divided by 1,048,576, rounded down.
int64_t whole_megabytes(uint32_t filesize);

duplicate_listing list_duplicates();

#endif  // VARNELO_CLI_DUPLICATE_GROUPS_H_
