// scan: adds folder trees with the library's walk, showing its progress on standard error.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/progress_line.h"
#include "cli/read_failure.h"
#include "database/mp3_db.h"

namespace {

// The walk's callback; the window handle slot carries the progress line. A stop request
// reaches the walk itself (it stops at once); the 0 answered here stands for it only should
// the walk ever miss it.
int on_walk_progress(int files_new, int level, const char*, const char* dir, window_handle hwnd) {
  if (interrupted()) return 0;
  if (level != -1) {
    static_cast<progress_line*>(hwnd)->tick(dir, [&] {
      return "scanning: " + std::to_string(files_new) + " files added, in " + dir;
    });
  }
  return 1;
}

std::string plural(uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What the walk of folder could not take: the first few by name, then the counts.
void report_left_out(const std::string& folder, const console& out) {
  mp3db_walk_report report;
  mp3db_get_walk_report(&report);
  if (report.folders_unlisted == 0 && report.files_unread == 0) return;
  for (uint32_t i = 0; i < report.named; ++i) {
    const mp3db_walk_problem& p = report.problems[i];
    out.warning("%s: %s", out.shown(p.path).c_str(),
                p.is_folder ? ("cannot list folder: " + reason_of(p.error_number)).c_str()
                            : ("cannot read: " + read_failure(p.error_number)).c_str());
  }
  const uint32_t total = report.folders_unlisted + report.files_unread;
  out.warning("scan of %s left out %s and %s%s", out.shown(folder).c_str(),
              plural(report.folders_unlisted, "folder it could not list",
                     "folders it could not list").c_str(),
              plural(report.files_unread, "file it could not read",
                     "files it could not read").c_str(),
              total > report.named ? (" (the first " + std::to_string(report.named) +
                                      " named above)").c_str()
                                   : "");
}

// Why folder cannot be walked, or an empty text when it can be listed.
std::string unlistable_reason(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return reason_of(errno);
  if (!S_ISDIR(st.st_mode)) return "not a folder";
  if (access(folder.c_str(), R_OK | X_OK) != 0) return reason_of(errno);
  return "";
}

}  // namespace

int run_scan(const std::vector<std::string>& folders, const console& out) {
  int status = kExitSuccess;
  for (const std::string& given : folders) {
    if (interrupted()) break;
    // One spelling for each folder, so that two spellings of it do not list its files twice.
    std::string folder = canonical_path(given);
    std::string reason = unlistable_reason(folder);
    if (!reason.empty()) {
      out.error("%s: cannot scan: %s", given.c_str(), reason.c_str());
      status = kExitFailure;
      continue;
    }
    uint32_t before = file_getfilenum();
    progress_line progress("scanning", out.quiet());
    // The totals cost the walk a second listing: only a line that shows them asks for it.
    mp3db_set_walk_count(progress.on_terminal() ? 1 : 0);
    // add_directory trims a trailing separator in place, so it gets a writable copy.
    std::string buffer = folder;
    add_directory(buffer.data(), on_walk_progress, &progress);
    progress.finish();
    out.note("scan: %u files added from %s", file_getfilenum() - before, folder.c_str());
    report_left_out(folder, out);
  }
  if (interrupted()) {
    out.error("scan interrupted; the files added before the stop are kept");
    status = kExitFailure;
  }
  return status;
}
