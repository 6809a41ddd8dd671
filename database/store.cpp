// The store: the name of the database file, and moving the tables between memory and it.
// Saves never destroy the previous file (see safe_save.h), a file that failed to load
// although it exists is moved aside before anything is written under its name, and a
// database whose lock another program holds is not written.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <new>

#include "database/diagnostics.h"
#include "database/format.h"
#include "database/load.h"
#include "database/lock.h"
#include "database/mp3_db.h"
#include "database/recovery.h"
#include "database/safe_save.h"
#include "database/tables.h"
#include "platform/platform.h"

namespace {

constexpr int kRecoveryNames = 1000;

char* dbname = nullptr;

// The file that the last load found unreadable, by identity, so that a later save under
// whatever name reaches it moves it aside instead of overwriting it.
struct unreadable_file {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};
unreadable_file unreadable;

// The database file as this process last loaded or wrote it (or found it missing), to tell
// whether another program has changed it since.
struct seen_file {
  bool known = false;
  bool absent = false;
  platform::file_state state;
};
seen_file last_seen;

void remember_unreadable(FILE* file) {
  struct stat st;
  // An empty file holds nothing to keep.
  if (fstat(fileno(file), &st) != 0 || st.st_size == 0) return;
  unreadable = unreadable_file{true, st.st_dev, st.st_ino};
}

// False when the unreadable file is in the way and could not be moved aside.
bool keep_unreadable(const char* path) {
  if (!unreadable.known) return true;
  std::string target = safe_save::resolve_target(path);
  struct stat st;
  if (stat(target.c_str(), &st) != 0 || st.st_dev != unreadable.device ||
      st.st_ino != unreadable.inode)
    return true;
  if (!safe_save::move_aside(target)) {
    db_print("cannot move unreadable database %s aside; not written\n", target.c_str());
    return false;
  }
  unreadable = unreadable_file{};
  return true;
}

// False, after a diagnostic, when another program holds the database's lock.
bool may_write(const char* path) {
  if (db_lock::save_permitted(path)) return true;
  db_print("database %s is in use by another program; not written\n", path);
  errno = EBUSY;
  return false;
}

void remember_written(const char* path) {
  last_seen = seen_file{};
  platform::unique_fd fd = platform::open_regular_fd(path, &last_seen.state);
  last_seen.known = static_cast<bool>(fd);
}

void put_header(unsigned char* header, uint32_t hashnum, uint32_t filenum, uint32_t stamp) {
  format::put_u32(header + format::kMagicOffset, format::kMagic);
  format::put_u32(header + format::kHashnumOffset, hashnum);
  format::put_u32(header + format::kFilenumOffset, filenum);
  format::put_u32(header + format::kStampOffset, stamp);
}

// The length of the file that write_tables makes.
uint64_t database_bytes() {
  uint64_t total = format::kHeaderBytes + uint64_t{tables::hashnum()} * format::kDigestBytes;
  for (uint32_t i = 0; i < tables::filenum(); ++i)
    total += format::kRecordHeadBytes + strlen(tables::file_at(i)->filename);
  return total;
}

// Writes the header and both tables; false when a write failed.
bool write_tables(safe_save::db_writer& out) {
  uint32_t hashnum = tables::hashnum();
  uint32_t filenum = tables::filenum();
  unsigned char header[format::kHeaderBytes];
  put_header(header, hashnum, filenum, format::kStampClosed);
  bool ok = out.write(header, sizeof header);
  for (uint32_t i = 0; ok && i < hashnum; ++i)
    ok = out.write(tables::hash_at(i), format::kDigestBytes);
  for (uint32_t i = 0; ok && i < filenum; ++i) {
    const fileentry* e = tables::file_at(i);
    size_t namelen = strlen(e->filename);
    unsigned char head[format::kRecordHeadBytes];
    format::put_u32(head + format::kHashidOffset, static_cast<uint32_t>(e->hashid));
    format::put_u32(head + format::kFilesizeOffset, e->filesize);
    format::put_u32(head + format::kNamelenOffset, static_cast<uint32_t>(namelen));
    ok = out.write(head, sizeof head) && out.write(e->filename, namelen);
  }
  return ok;
}

// Writes the whole database to a new file at path; false (errno EEXIST when a file is
// there) when it could not be written whole.
bool write_new_file(const std::string& path, uint64_t total) {
  safe_save::db_writer out;
  return out.open(path.c_str(), total, safe_save::target_mode::create_new) && write_tables(out) &&
         out.commit();
}

}  // namespace

char* stringcpy(const char* text) {
  size_t n = strlen(text);
  char* copy = static_cast<char*>(calloc(n + 1, 1));
  if (copy == nullptr) abort();  // out of memory ends the program; nothing is written through it
  memcpy(copy, text, n);
  return copy;
}

int file_initdb() {
  free(dbname);
  dbname = stringcpy("default.mp3db");
  return file_opendb();
}

int file_setdb(const char* name) {
  if (name == nullptr) return 0;
  char* next;
  if (strstr(name, ".mp3db") != nullptr) {
    next = stringcpy(name);
  } else {
    size_t n = strlen(name);
    next = static_cast<char*>(calloc(n + 7, 1));
    if (next == nullptr) abort();
    memcpy(next, name, n);
    memcpy(next + n, ".mp3db", 6);
  }
  free(dbname);
  dbname = next;
  return 1;
}

int file_createdb() {
  if (dbname == nullptr || !may_write(dbname) || !keep_unreadable(dbname)) return 0;
  safe_save::db_writer out;
  if (!out.open(dbname, format::kHeaderBytes)) return 0;
  tables::clear();
  unsigned char header[format::kHeaderBytes];
  put_header(header, 0, 0, format::kStampCreated);
  if (!out.write(header, sizeof header) || !out.commit()) {
    db_print("error:%u\n", static_cast<unsigned>(out.position()));
    return 0;
  }
  remember_written(dbname);
  return 1;
}

int file_opendb() {
  if (dbname == nullptr) return 0;
  platform::unique_file file = platform::open_regular(dbname);
  if (!file) {
    struct stat st;
    bool absent = stat(dbname, &st) != 0 && errno == ENOENT;
    last_seen = absent ? seen_file{true, true, {}} : seen_file{};
    return 0;
  }
  last_seen = seen_file{};
  last_seen.known = platform::state_of(fileno(file.get()), &last_seen.state);
  tables::clear();
  unreadable = unreadable_file{};
  tables::loaded fresh;
  load::outcome result;
  try {
    result = load::read_database(file.get(), &fresh);
  } catch (const std::bad_alloc&) {
    result = load::outcome::out_of_memory;
  }
  if (result != load::outcome::loaded) {
    // A file too large for memory is as much worth keeping as a damaged one.
    remember_unreadable(file.get());
    free(fresh.names);
    return 0;
  }
  file.reset();
  tables::adopt(&fresh);
  db_print("Database successfully read\n");
  return 1;
}

int file_closedb() {
  db_print("writing db data now.\n");
  if (dbname == nullptr || !may_write(dbname) || !keep_unreadable(dbname)) return 0;
  safe_save::db_writer out;
  if (!out.open(dbname, database_bytes()) || !write_tables(out) || !out.commit()) return 0;
  remember_written(dbname);
  tables::clear();
  return 1;
}

void file_unloaddb() { tables::clear(); }

const char* file_getdbname() { return dbname; }
uint32_t file_gethashnum() { return tables::hashnum(); }
uint32_t file_getfilenum() { return tables::filenum(); }

int file_dbchanged() {
  if (dbname == nullptr || !last_seen.known) return 1;
  struct stat st;
  if (stat(dbname, &st) != 0) return last_seen.absent && errno == ENOENT ? 0 : 1;
  if (last_seen.absent) return 1;
  platform::file_state now;
  platform::unique_fd fd = platform::open_regular_fd(dbname, &now);
  return fd && now == last_seen.state ? 0 : 1;
}

char* file_saverecovery() {
  if (dbname == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const uint64_t total = database_bytes();
  std::string folder;  // first the database's own folder
  for (int place = 0; place < 2; ++place) {
    if (place == 1 && (folder = recovery::state_folder()).empty()) break;
    for (int n = 0; n < kRecoveryNames; ++n) {
      std::string name = recovery::file_name(folder, dbname, n);
      if (write_new_file(name, total)) return stringcpy(name.c_str());
      if (errno != EEXIST) break;
    }
  }
  return nullptr;
}
