// Tables filled by hand, as a loaded database holds them: emptied around a test, and file
// entries appended as they are.
#ifndef VARNELO_TESTS_SUPPORT_TABLE_ENTRIES_H_
#define VARNELO_TESTS_SUPPORT_TABLE_ENTRIES_H_

#include <stdlib.h>
#include <string.h>

#include <string>

#include "database/mp3_db.h"
#include "database/tables.h"

namespace testing_support {

// Appends a file entry with exactly these fields (hashid may name no digest); returns its
// index.
inline uint32_t append_entry(int32_t hashid, uint32_t size, const std::string& path) {
  auto* e = static_cast<fileentry*>(malloc(sizeof(fileentry)));
  *e = fileentry{hashid, size, strdup(path.c_str())};
  return tables::append_file(e);
}

// Empties the tables when made and again when gone: as a member of a test's fixture, the
// test starts and ends without entries.
struct empty_tables {
  empty_tables() { tables::clear(); }
  ~empty_tables() { tables::clear(); }
  empty_tables(const empty_tables&) = delete;
  empty_tables& operator=(const empty_tables&) = delete;
};

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_TABLE_ENTRIES_H_
