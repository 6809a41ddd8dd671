// Standard output of varnelo-cli, checked: every write, every flush and the final close.
// Output that never reached its reader (a full disk, a closed pipe, an I/O error) turns the
// run into a failure, and a command that deletes files asks before each deletion whether
// what it writes is still being read, so it stops once its record of what it did is lost.
// Standard output is one per process, so these are plain functions on it.
#ifndef VARNELO_CLI_CHECKED_OUTPUT_H_
#define VARNELO_CLI_CHECKED_OUTPUT_H_

#include <string>
#include <string_view>

#include "cli/console.h"

namespace checked_output {

// printf to standard output. False when this or an earlier write failed; after a failure
// nothing more is written.
bool print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The bytes as they are, NUL bytes included. False as print.
bool write(std::string_view bytes);
// Hands what is buffered to the system now. False when anything written so far failed.
bool flush();
// True when everything written so far reached the system (flushing first) and, when
// standard output is a pipe or a socket, its reader is still there. A command that deletes
// asks before each deletion: a reader that went away stops it before the next change.
bool still_heard();
// True while no write has failed (without flushing).
bool ok();

// name as written to standard output: quoted as a shell reads it back when standard
// output is a terminal and the name holds a control character, else its exact bytes.
std::string shown(std::string_view name);

// "cannot write to standard output: REASON" through out, once per run, when a write failed.
void report(const console& out);
// Flushes and closes standard output at the end of the run; nothing may be written after.
// False, after report, when anything written did not reach the system.
bool close(const console& out);

}  // namespace checked_output

#endif  // VARNELO_CLI_CHECKED_OUTPUT_H_
