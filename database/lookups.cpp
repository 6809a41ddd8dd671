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
  int32_t k = tables::next_file_with_hash(i, hashid);
  // Past the last match the walk ends and the cursor starts over, as a scan to the end would.
  i = k < 0 ? 0 : static_cast<uint32_t>(k) + 1;
  return k;
}

int32_t get_fileentrybyfilename(const char* path) { return tables::find_file(path); }

int32_t get_fileentrybyhashid(int32_t hashid) { return tables::next_file_with_hash(0, hashid); }
