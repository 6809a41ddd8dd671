// add, delete and clean: the commands that add or drop single entries.
#include <errno.h>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

int run_add(const std::vector<std::string>& files, const console& out) {
  int status = kExitSuccess;
  int added = 0;
  for (const std::string& given : files) {
    if (interrupted()) break;
    std::string path = full_path(given);
    if (get_fileentrybyfilename(path.c_str()) != -1) {
      out.note("%s: already in the database", given.c_str());
      continue;
    }
    if (file_add(path.c_str()) != 0) {
      ++added;
      continue;
    }
    std::string reason = unreadable_reason(path);
    if (reason == "readable") reason = "no audio content to digest";
    out.error("%s: cannot add: %s", given.c_str(), reason.c_str());
    status = kExitFailure;
  }
  out.note("add: %d files added", added);
  return status;
}

int run_delete(const std::vector<std::string>& files, const console& out) {
  int status = kExitSuccess;
  int deleted = 0;
  for (const std::string& given : files) {
    if (interrupted()) break;
    std::string path = full_path(given);
    // delete_file would unlink a file that has no entry; this command only deletes entries.
    if (get_fileentrybyfilename(path.c_str()) == -1) {
      out.error("%s: not deleted: not in the database", given.c_str());
      status = kExitFailure;
      continue;
    }
    std::string reason = unreadable_reason(path);
    if (reason != "readable") {
      out.error("%s: not deleted: %s (the entry stays until clean)", given.c_str(), reason.c_str());
      status = kExitFailure;
      continue;
    }
    errno = 0;
    if (delete_file(path.c_str()) != 0) {
      ++deleted;
      continue;
    }
    int saved = errno;
    out.error("%s: not deleted: %s", given.c_str(),
              saved != 0 ? reason_of(saved).c_str() : "the system refused");
    status = kExitFailure;
  }
  out.note("delete: %d files deleted", deleted);
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
