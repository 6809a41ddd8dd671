// Lookups in the tables of the open database, with the results of in-order scans.
#include "database/mp3_db.h"
#include "database/tables.h"

unsigned char* db_gethashentry(uint32_t index) { return tables::hash_at(index); }

fileentry* db_getfileentry(uint32_t index) { return tables::file_at(index); }

int32_t get_hashentry(const unsigned char* digest) { return tables::find_hash(digest); }

int32_t get_fileentriesnum(uint32_t hashid) { return tables::count_files(hashid); }

int32_t get_fileentries(int32_t hashid) {
  static uint32_t i = 0;  // the one process-wide cursor
  if (hashid == -1) {
    i = 0;
    return 1;
  }
  while (i < tables::filenum()) {
    uint32_t k = i++;
    if (tables::file_at(k)->hashid == hashid) return static_cast<int32_t>(k);
  }
  i = 0;
  return -1;
}

int32_t get_fileentrybyfilename(const char* path) { return tables::find_file(path); }

int32_t get_fileentrybyhashid(int32_t hashid) {
  for (uint32_t i = 0; i < tables::filenum(); ++i)
    if (tables::file_at(i)->hashid == hashid) return static_cast<int32_t>(i);
  return -1;
}
