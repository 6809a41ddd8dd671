// scan: adds folder trees with the library's walk, showing progress on standard error.
#include <errno.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Progress of one walk. On a terminal one line rewrites itself; anywhere else (a log, a
// pipe) a plain line is written now and then, so logs stay readable.
class scan_progress {
 public:
  explicit scan_progress(bool quiet) : quiet_(quiet), on_terminal_(isatty(STDERR_FILENO) == 1) {}

  void show(int files_added, const char* folder) {
    if (quiet_) return;
    clock_type::time_point now = clock_type::now();
    if (now - last_ < (on_terminal_ ? std::chrono::milliseconds(100) : std::chrono::seconds(1))) {
      return;
    }
    last_ = now;
    if (on_terminal_) {
      std::string line = "scanning: " + std::to_string(files_added) + " files added, in ";
      std::string where = printable(folder);
      size_t room = terminal_width() > line.size() + 4 ? terminal_width() - line.size() - 1 : 4;
      if (where.size() > room) where = "..." + where.substr(where.size() - (room - 3));
      fprintf(stderr, "\r\033[K%s%s", line.c_str(), where.c_str());
      line_open_ = true;
    } else {
      fprintf(stderr, "varnelo-cli: scanning: %d files added, in %s\n", files_added,
              printable(folder).c_str());
    }
  }

  // Ends the rewritten line before any other message.
  void finish() {
    if (line_open_) fputs("\r\033[K", stderr);
    line_open_ = false;
  }

 private:
  static size_t terminal_width() {
    struct winsize ws = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
  }

  bool quiet_;
  bool on_terminal_;
  bool line_open_ = false;
  clock_type::time_point last_{};
};

// The walk's callback; the window handle slot carries the progress display. A stop
// request reaches the walk itself (it stops at once); the 0 answered here stands for it
// only should the walk ever miss it.
int on_walk_progress(int files_new, int level, const char*, const char* dir, window_handle hwnd) {
  if (interrupted()) return 0;
  if (level != -1) static_cast<scan_progress*>(hwnd)->show(files_new, dir);
  return 1;
}

// Why a file of a walk was left out, in words.
std::string file_reason(int error_number) {
  if (error_number == EINVAL) return "not a regular file";
  if (error_number == EFBIG) return "larger than 2 GiB";
  return reason_of(error_number);
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
                            : ("cannot read: " + file_reason(p.error_number)).c_str());
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
    scan_progress progress(out.quiet());
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
