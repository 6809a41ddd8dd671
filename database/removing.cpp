// Removing entries and files, and the cleaning pass that drops entries of vanished files.
// Digests are never removed, so every remaining entry's hashid stays valid.
#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "database/tables.h"
#include "platform/platform.h"

int db_deletefileentry(int32_t index) {
  if (index < 0 || static_cast<uint32_t>(index) >= tables::filenum()) return 0;
  tables::remove_file(static_cast<uint32_t>(index));
  return 1;
}

int file_delete(const char* path) {
  if (path == nullptr) return 0;
  return db_deletefileentry(get_fileentrybyfilename(path));
}

int delete_file(const char* path) {
  if (path == nullptr || !fileexists(path)) return 0;
  // unlink: should the path have become a symbolic link since it was chosen, only the
  // link goes, never what it points to.
  if (!platform::delete_path(path)) return 0;
  return file_delete(path);
}

int delete_filebyid(int32_t index) {
  fileentry* entry = db_getfileentry(static_cast<uint32_t>(index));
  if (entry == nullptr) return 0;
  // The entry's own name dies with the entry inside delete_file; nothing here reads it after.
  return delete_file(entry->filename);
}

int delete_all_duplicates() { return 1; }

int file_updatedb() {
  const uint32_t start = tables::filenum();
  if (start == 0) {
    db_print("Update complete\n");
    return 1;
  }
  db_print("checking %d file(s) for existance\n", static_cast<int>(start));
  uint32_t checked = 0;
  for (uint32_t cursor = 0; cursor < tables::filenum(); ++cursor) {
    const fileentry* entry = tables::file_at(cursor);
    if (!fileexists(entry->filename)) {
      // Removed by its index rather than looked up by name: the same entry whenever names
      // are distinct, and still this entry when a loaded database holds a name twice.
      if (!db_deletefileentry(static_cast<int32_t>(cursor))) return 0;
      // The former last entry now sits in this slot and is examined next.
      --cursor;
    }
    ++checked;
    db_print("checked file %06d of %06d\r", static_cast<int>(checked), static_cast<int>(start));
  }
  const uint32_t left = tables::filenum();
  db_print("\nUpdate complete\ndeleted %d files from %d, %d file(s) reside in database\n",
           static_cast<int>(start - left), static_cast<int>(start), static_cast<int>(left));
  return 1;
}
