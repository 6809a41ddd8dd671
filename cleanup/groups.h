// The duplicate groups of the open database: every digest that two or more files share,
// with its files, and the statistics both programs show (exact bytes and the window's
// whole-megabyte figures).
#ifndef VARNELO_CLEANUP_GROUPS_H_
#define VARNELO_CLEANUP_GROUPS_H_

#include <stdint.h>

#include <array>
#include <span>
#include <vector>

namespace cleanup {

using digest_bytes = std::array<unsigned char, 16>;

// One digest that two or more files share.
struct digest_group {
  int32_t hashid;
  digest_bytes digest;
  uint32_t first;  // position of the group's first file in duplicate_groups::files
  uint32_t count;  // number of its files, two or more
};

struct group_statistics {
  uint64_t files = 0;            // every file entry of the database
  uint64_t duplicates = 0;       // files in second or later place of their group
  uint64_t duplicate_bytes = 0;  // their sizes
  uint64_t total_bytes = 0;      // sizes of every file whose hashid names a digest
  // The window's figures: each file's size rounded down to whole megabytes, then summed.
  uint64_t duplicate_mb = 0;
  uint64_t total_mb = 0;
};

struct duplicate_groups {
  // Groups in ascending hashid; the files of each in ascending file index (table order).
  std::vector<digest_group> groups;
  std::vector<uint32_t> files;
  uint32_t hashnum = 0;  // number of digests when the groups were made
  group_statistics statistics;

  // The file indexes of one group, the first of which is never a duplicate.
  std::span<const uint32_t> files_of(const digest_group& group) const {
    return {files.data() + group.first, group.count};
  }
};

// Groups the file table of the open database by digest in one pass over it. Files whose
// hashid names no digest (possible only in a loaded file) belong to no group and count only
// in statistics.files. The indexes are valid until the file table next changes.
duplicate_groups group_by_digest();

// A file's whole megabytes: its size divided by 1,048,576, rounded down.
inline uint32_t whole_megabytes(uint32_t filesize) { return filesize / 1048576u; }

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_GROUPS_H_
