// Reading a ".mp3db" file into fresh tables, with the diagnostics of a failed load.
#ifndef VARNELO_DATABASE_LOAD_H_
#define VARNELO_DATABASE_LOAD_H_

#include <stdio.h>

#include "database/tables.h"

namespace load {

enum class outcome {
  loaded,
  invalid,       // not a valid database (the reason was printed)
  out_of_memory  // a valid-looking database too large for the memory at hand
};

// Reads the database from file (opened for reading at offset 0) into out. Counts and
// lengths are tested against the bytes that remain before any memory is reserved for them.
outcome read_database(FILE* file, tables::loaded* out);

}  // namespace load

#endif  // VARNELO_DATABASE_LOAD_H_
