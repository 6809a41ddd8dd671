// The tables of the open database and the only functions that change them.
// Every change goes through here so that the lookup indexes stay in step with the tables.
#ifndef VARNELO_DATABASE_TABLES_H_
#define VARNELO_DATABASE_TABLES_H_

#include <stdint.h>

#include "database/mp3_db.h"

namespace tables {

uint32_t hashnum();
uint32_t filenum();
// Null when index is out of range.
fileentry* file_at(uint32_t index);
unsigned char* hash_at(uint32_t index);

// Appends a file entry; the store takes ownership of entry and entry->filename
// (both from malloc). Returns the new entry's index.
uint32_t append_file(fileentry* entry);
// Appends a copy of the 16 digest bytes; returns the new hashid.
int32_t append_hash(const unsigned char* digest);
// Destroys the entry at index (record and name) and moves the last entry into its slot.
// Precondition: index < filenum().
void remove_file(uint32_t index);
// Gives the entry at index a new path; the store takes ownership of newname (malloc'ed)
// and frees the old one. Precondition: index < filenum().
void rename_file(uint32_t index, char* newname);
// Releases every entry, name and digest; both counts become 0.
void clear();

// Lookups with the results of in-order scans (first match wins).
int32_t find_hash(const unsigned char* digest);
int32_t find_file(const char* path);
// Number of files whose hashid equals hashid (0 when hashid >= hashnum()).
int32_t count_files(uint32_t hashid);

}  // namespace tables

#endif  // VARNELO_DATABASE_TABLES_H_
