// The store: the name of the database file and moving the tables between memory and it.
// (First cut: loads and saves in place; the safe save and load guards come next.)
#include <stdlib.h>
#include <string.h>

#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "database/tables.h"
#include "platform/platform.h"

namespace {
char* dbname = nullptr;
}

char* stringcpy(const char* text) {
  size_t n = strlen(text);
  char* copy = static_cast<char*>(calloc(n + 1, 1));
  if (copy == nullptr) abort();
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

int file_createdb() { return 0; }
int file_opendb() { return 0; }
int file_closedb() { return 0; }
const char* file_getdbname() { return dbname; }
uint32_t file_gethashnum() { return tables::hashnum(); }
uint32_t file_getfilenum() { return tables::filenum(); }
