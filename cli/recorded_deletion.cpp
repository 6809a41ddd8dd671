// One deletion and its line on standard output.
#include "cli/recorded_deletion.h"

#include <errno.h>

#include "cli/checked_output.h"
#include "database/mp3_db.h"

deletion_outcome delete_recorded(const std::string& path, const std::string& name,
                                 const console& out) {
  if (!checked_output::still_heard()) return deletion_outcome::not_begun;
  errno = 0;
  if (delete_file(path.c_str()) == 0) {
    int saved = errno;
    out.error("%s: not deleted: %s", out.shown(name).c_str(),
              saved != 0 ? reason_of(saved).c_str() : "the system refused");
    return deletion_outcome::refused;
  }
  if (checked_output::print("deleted: %s\n", checked_output::shown(path).c_str()) &&
      checked_output::flush()) {
    return deletion_outcome::deleted;
  }
  // The line is lost, so the deletion is told where it can still be read.
  checked_output::report(out);
  out.error("%s: deleted, but its line could not be written", out.shown(path).c_str());
  return deletion_outcome::unrecorded;
}

void report_lost_output(const char* command, int deleted, const console& out) {
  checked_output::report(out);
  out.error(
      "%s stopped: its output is lost; the %d files deleted before are recorded in the "
      "database",
      command, deleted);
}
