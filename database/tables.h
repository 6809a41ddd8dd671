// The tables of the open database and the only functions that change them.
// Every change goes through here so that the lookup indexes stay in step with the tables.
//
// File records sit in one array and digests in another, so a pointer from file_at or
// hash_at stays valid only until the next change of the tables (as the contract says).
// Paths of a loaded database share one block; paths added later are malloc'ed one by one.
#ifndef VARNELO_DATABASE_TABLES_H_
#define VARNELO_DATABASE_TABLES_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "database/mp3_db.h"

namespace tables {

struct digest {
  unsigned char bytes[16];
};

uint32_t hashnum();
uint32_t filenum();
// Null when index is out of range.
fileentry* file_at(uint32_t index);
unsigned char* hash_at(uint32_t index);

// Appends a file entry; the store takes ownership of entry and entry->filename
// (both from malloc; entry itself is released at once, its fields are copied).
// Returns the new entry's index.
uint32_t append_file(fileentry* entry);
// Appends a copy of the 16 digest bytes; returns the new hashid.
int32_t append_hash(const unsigned char* digest);
// Destroys the entry at index (record and name) and moves the last entry into its slot.
// Precondition: index < filenum().
void remove_file(uint32_t index);
// Gives the entry at index a new path; the store takes ownership of newname (malloc'ed)
// and frees the old one. Precondition: index < filenum().
void rename_file(uint32_t index, char* newname);
// Gives the entry at index another digest (hashid) and size, its path and place unchanged.
// Precondition: index < filenum().
void set_content(uint32_t index, int32_t hashid, uint32_t filesize);
// Releases every entry, name and digest; both counts become 0.
void clear();

// What a load hands over: the tables in file order, and the one block that holds the
// loaded paths (malloc'ed; every files[i].filename points into it).
struct loaded {
  std::vector<digest> hashes;
  std::vector<fileentry> files;
  char* names = nullptr;
  size_t names_size = 0;
};
// Replaces the tables by a load's result (which is left empty).
void adopt(loaded* from);

// Counts the changes that may have taken a path out of the tables (removals, renames,
// clearing, loading): a path found listed stays listed while the count stays the same.
uint64_t paths_dropped();

// Lookups with the results of in-order scans (first match wins).
int32_t find_hash(const unsigned char* digest);
int32_t find_file(const char* path);
// find_file for count paths at once, into found: the memory each lookup needs is fetched
// for all of them first, so that their waits on it overlap.
void find_files(const char* const* paths, size_t count, int32_t* found);
// Number of files whose hashid equals hashid (0 when hashid >= hashnum()).
int32_t count_files(uint32_t hashid);
// The lowest file index >= from whose hashid equals hashid, or -1.
int32_t next_file_with_hash(uint32_t from, int32_t hashid);

}  // namespace tables

#endif  // VARNELO_DATABASE_TABLES_H_
