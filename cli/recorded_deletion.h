// Deleting a file of the database with a record of it on standard output. Each deletion is
// written as "deleted: PATH" and flushed at once, and none starts once the output is lost,
// so a command stops before its next change when nobody reads what it writes any more; the
// database it saves then holds exactly the deletions that were made.
#ifndef VARNELO_CLI_RECORDED_DELETION_H_
#define VARNELO_CLI_RECORDED_DELETION_H_

#include <string>

#include "cli/console.h"

enum class deletion_outcome {
  deleted,     // gone from disk and database, and its line written
  refused,     // the system kept the file; an error "NAME: not deleted: REASON" was given
  not_begun,   // standard output was lost before: nothing was deleted, stop
  unrecorded,  // gone from disk and database, but its line could not be written: stop
};

// Deletes path (a full path listed in the database) with delete_file, which drops its entry
// too. name is how errors name the file (the path as the user gave it).
deletion_outcome delete_recorded(const std::string& path, const std::string& name,
                                 const console& out);

// True for the outcomes after which a file and its entry are gone.
inline bool was_deleted(deletion_outcome outcome) {
  return outcome == deletion_outcome::deleted || outcome == deletion_outcome::unrecorded;
}

// The errors of a command that stopped because its output was lost: the write error, then
// "COMMAND stopped: its output is lost; the N files deleted before are recorded in the database".
void report_lost_output(const char* command, int deleted, const console& out);

#endif  // VARNELO_CLI_RECORDED_DELETION_H_
