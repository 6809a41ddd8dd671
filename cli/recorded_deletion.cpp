// One removal and its line on standard output.
#include "cli/recorded_deletion.h"

#include "cli/checked_output.h"

bool record_removal(const cleanup::file_outcome& removed, const console& out) {
  const char* verb = removed.kind == cleanup::outcome_kind::trashed ? "trashed" : "deleted";
  if (checked_output::print("%s: %s\n", verb, checked_output::shown(removed.path).c_str()) &&
      checked_output::flush()) {
    return true;
  }
  // The line is lost, so the removal is told where it can still be read.
  checked_output::report(out);
  out.error("%s: %s, but its line could not be written", out.shown(removed.path).c_str(), verb);
  return false;
}

deletion_outcome remove_recorded(const std::string& path, const std::string& name,
                                 cleanup::removal_method method, const console& out) {
  if (!checked_output::still_heard()) return deletion_outcome::not_begun;
  const cleanup::file_outcome outcome = cleanup::remove_file(path, method);
  if (outcome.kind == cleanup::outcome_kind::skipped) {
    out.error("%s: not deleted: %s", out.shown(name).c_str(), outcome.reason.c_str());
    return deletion_outcome::refused;
  }
  return record_removal(outcome, out) ? deletion_outcome::deleted : deletion_outcome::unrecorded;
}

void report_lost_output(const char* command, int deleted, const console& out) {
  checked_output::report(out);
  out.error(
      "%s stopped: its output is lost; the %d files deleted before are recorded in the "
      "database",
      command, deleted);
}

std::string removed_amount(uint64_t files, uint64_t bytes, uint64_t megabytes) {
  return std::to_string(files) + " files (" + std::to_string(bytes) + " bytes, " +
         std::to_string(megabytes) + " MB)";
}
