// Removing files of the database with a record of it on standard output. Each removal is
// written as "trashed: PATH" (or "deleted: PATH" when deleted for good) and flushed at once,
// and none starts once the output is lost, so a command stops before its next change when
// nobody reads what it writes any more; the database it saves then holds exactly the
// removals that were made.
#ifndef VARNELO_CLI_RECORDED_DELETION_H_
#define VARNELO_CLI_RECORDED_DELETION_H_

#include <string>

#include "cleanup/removal.h"
#include "cli/console.h"

enum class deletion_outcome {
  deleted,     // gone from its place and the database, and its line written
  refused,     // the file stays; an error "NAME: not deleted: REASON" was given
  not_begun,   // standard output was lost before: nothing was removed, stop
  unrecorded,  // gone from its place and the database, but its line could not be written: stop
};

// Writes the line of a trashed or deleted file and flushes it. On failure names the
// removal on standard error ("PATH: trashed, but its line could not be written") instead
// and returns false: the command must stop.
bool record_removal(const cleanup::file_outcome& removed, const console& out);

// Removes path (a full path listed in the database), and its entry, the way method says.
// name is how errors name the file (the path as the user gave it).
deletion_outcome remove_recorded(const std::string& path, const std::string& name,
                                 cleanup::removal_method method, const console& out);

// True for the outcomes after which a file and its entry are gone.
inline bool was_deleted(deletion_outcome outcome) {
  return outcome == deletion_outcome::deleted || outcome == deletion_outcome::unrecorded;
}

// The errors of a command that stopped because its output was lost: the write error, then
// "COMMAND stopped: its output is lost; the N files deleted before are recorded in the database".
void report_lost_output(const char* command, int deleted, const console& out);

// "N files (B bytes, M MB)" as the summaries of delete and prune count what they removed.
std::string removed_amount(uint64_t files, uint64_t bytes, uint64_t megabytes);

#endif  // VARNELO_CLI_RECORDED_DELETION_H_
