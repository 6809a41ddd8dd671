// add, delete and clean: the commands that add or drop single entries.
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/recorded_deletion.h"
#include "database/mp3_db.h"

int run_add(const std::vector<std::string>& files, const console& out) {
  int status = kExitSuccess;
  int added = 0;
  for (const std::string& given : files) {
    if (interrupted()) break;
    std::string path = full_path(given);
    if (get_fileentrybyfilename(path.c_str()) != -1) {
      out.note("%s: already in the database", out.shown(given).c_str());
      continue;
    }
    if (file_add(path.c_str()) != 0) {
      ++added;
      continue;
    }
    std::string reason = unreadable_reason(path);
    if (reason == "readable") reason = "no audio content to digest";
    out.error("%s: cannot add: %s", out.shown(given).c_str(), reason.c_str());
    status = kExitFailure;
  }
  out.note("add: %d files added", added);
  return status;
}

int run_delete(const std::vector<std::string>& files, const console& out) {
  int status = kExitSuccess;
  int deleted = 0;
  bool output_lost = false;
  for (const std::string& given : files) {
    if (interrupted()) break;
    std::string path = full_path(given);
    // delete_file would unlink a file that has no entry; this command only deletes entries.
    if (get_fileentrybyfilename(path.c_str()) == -1) {
      out.error("%s: not deleted: not in the database", out.shown(given).c_str());
      status = kExitFailure;
      continue;
    }
    std::string reason = unreadable_reason(path);
    if (reason != "readable") {
      out.error("%s: not deleted: %s (the entry stays until clean)", out.shown(given).c_str(),
                reason.c_str());
      status = kExitFailure;
      continue;
    }
    deletion_outcome outcome = delete_recorded(path, given, out);
    if (was_deleted(outcome)) ++deleted;
    if (outcome == deletion_outcome::refused) status = kExitFailure;
    if (outcome == deletion_outcome::not_begun || outcome == deletion_outcome::unrecorded) {
      output_lost = true;
      break;
    }
  }
  out.note("delete: %d files deleted", deleted);
  if (output_lost) {
    report_lost_output("delete", deleted, out);
    return kExitFailure;
  }
  return status;
}

int run_clean(const console& out) {
  uint32_t before = file_getfilenum();
  int finished = file_updatedb();
  uint32_t removed = before - file_getfilenum();
  if (finished == 0) {
    out.error("the cleaning pass stopped early after dropping %u entries", removed);
    return kExitFailure;
  }
  out.note("clean: %u entries of missing files dropped, %u remain", removed, file_getfilenum());
  return kExitSuccess;
}
