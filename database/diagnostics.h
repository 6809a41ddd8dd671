// The one sink of the library's diagnostic lines (standard output by default).
#ifndef VARNELO_DATABASE_DIAGNOSTICS_H_
#define VARNELO_DATABASE_DIAGNOSTICS_H_

// printf-style; writes to the sink chosen with mp3db_set_diagnostics.
void db_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // VARNELO_DATABASE_DIAGNOSTICS_H_
