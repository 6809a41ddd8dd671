// The store: the name of the database file, and moving the tables between memory and it.
// Saves never destroy the previous file (see safe_save.h), and a file that failed to load
// although it exists is moved aside before anything is written under its name.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <new>

#include "database/diagnostics.h"
#include "database/format.h"
#include "database/load.h"
#include "database/mp3_db.h"
#include "database/safe_save.h"
#include "database/tables.h"
#include "platform/platform.h"

namespace {

char* dbname = nullptr;

// The file that the last load found unreadable, by identity, so that a later save under
// whatever name reaches it moves it aside instead of overwriting it.
struct unreadable_file {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};
unreadable_file unreadable;

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

void put_header(unsigned char* header, uint32_t hashnum, uint32_t filenum, uint32_t stamp) {
  format::put_u32(header + format::kMagicOffset, format::kMagic);
  format::put_u32(header + format::kHashnumOffset, hashnum);
  format::put_u32(header + format::kFilenumOffset, filenum);
  format::put_u32(header + format::kStampOffset, stamp);
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
  if (dbname == nullptr || !keep_unreadable(dbname)) return 0;
  safe_save::db_writer out;
  if (!out.open(dbname)) return 0;
  tables::clear();
  unsigned char header[format::kHeaderBytes];
  put_header(header, 0, 0, format::kStampCreated);
  if (!out.write(header, sizeof header) || !out.commit()) {
    db_print("error:%u\n", static_cast<unsigned>(out.position()));
    return 0;
  }
  return 1;
}

int file_opendb() {
  if (dbname == nullptr) return 0;
  platform::unique_file file = platform::open_regular(dbname);
  if (!file) return 0;
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
  if (dbname == nullptr || !keep_unreadable(dbname)) return 0;
  safe_save::db_writer out;
  if (!out.open(dbname)) return 0;
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
  if (!ok || !out.commit()) return 0;
  tables::clear();
  return 1;
}

void file_unloaddb() { tables::clear(); }

const char* file_getdbname() { return dbname; }
uint32_t file_gethashnum() { return tables::hashnum(); }
uint32_t file_getfilenum() { return tables::filenum(); }
