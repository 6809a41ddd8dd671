// The diagnostic sink of the library.
#include "database/diagnostics.h"

#include <stdarg.h>
#include <stdio.h>

#include "database/mp3_db.h"

namespace {
FILE* g_sink = nullptr;  // null: standard output
}

void mp3db_set_diagnostics(FILE* sink) { g_sink = sink; }

void db_print(const char* format, ...) {
  FILE* out = g_sink != nullptr ? g_sink : stdout;
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
}
