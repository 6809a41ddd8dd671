// add, delete and clean: the commands that add or drop single entries. Files are named by
// their canonical paths, so each file has one entry whatever spelling names it.
#include "cleanup/file_entry.h"
#include "cleanup/groups.h"
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
    std::string path = canonical_path(given);
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

int run_delete(const std::vector<std::string>& files, cleanup::removal_method method,
               const console& out) {
  int status = kExitSuccess;
  uint64_t deleted = 0, bytes = 0, megabytes = 0;
  bool output_lost = false;
  for (const std::string& given : files) {
    if (interrupted()) break;
    // The entry of the file, whatever spelling it was added under or is named by now.
    const int32_t index = cleanup::find_entry(full_path(given));
    if (index == -1) {
      out.error("%s: not deleted: not in the database", out.shown(given).c_str());
      status = kExitFailure;
      continue;
    }
    const fileentry* entry = db_getfileentry(static_cast<uint32_t>(index));
    const std::string path = entry->filename;
    const uint32_t size = entry->filesize;
    std::string reason = unreadable_reason(path);
    if (reason != "readable") {
      out.error("%s: not deleted: %s (the entry stays until clean)", out.shown(given).c_str(),
                reason.c_str());
      status = kExitFailure;
      continue;
    }
    deletion_outcome outcome = remove_recorded(path, given, method, out);
    if (was_deleted(outcome)) {
      ++deleted;
      bytes += size;
      megabytes += cleanup::whole_megabytes(size);
    }
    if (outcome == deletion_outcome::refused) status = kExitFailure;
    if (outcome == deletion_outcome::not_begun || outcome == deletion_outcome::unrecorded) {
      output_lost = true;
      break;
    }
  }
  const std::string amount = removed_amount(deleted, bytes, megabytes);
  if (method == cleanup::removal_method::trash) {
    out.note("delete: moved %s to the trash", amount.c_str());
  } else {
    out.note("delete: deleted %s", amount.c_str());
  }
  if (output_lost) {
    report_lost_output("delete", static_cast<int>(deleted), out);
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
