// verify: reads every listed file again and gives the entries whose audio changed their new
// digest, so that a file rewritten with other audio leaves its old group. Writes
// "changed: PATH" to standard output for each such entry and warns of files that can no
// longer be read, whose entries stay as they were.
#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/read_failure.h"
#include "database/mp3_db.h"

namespace {

struct verify_run {
  const console& out;
  progress_line progress;
  uint32_t listed = 0;
  uint32_t read = 0;
  uint32_t changed = 0;
  uint32_t resized = 0;
  uint32_t unreadable = 0;
  bool output_lost = false;
};

// The library's callback for each entry read. Returns 0 to stop: on Ctrl-C, and once the
// report of what changed no longer reaches its reader.
int on_verified(uint32_t index, int verified, int error_number, void* context) {
  verify_run& run = *static_cast<verify_run*>(context);
  const fileentry* entry = db_getfileentry(index);
  const std::string path = entry != nullptr ? entry->filename : "";
  ++run.read;
  switch (verified) {
    case mp3db_verified_changed:
      ++run.changed;
      run.progress.finish();
      if (!checked_output::print("changed: %s\n", checked_output::shown(path).c_str()) ||
          !checked_output::still_heard()) {
        run.output_lost = true;
        return 0;
      }
      break;
    case mp3db_verified_resized:
      ++run.resized;
      break;
    case mp3db_verified_unreadable:
      ++run.unreadable;
      run.progress.finish();
      run.out.warning("%s: cannot read: %s (the entry is kept)", run.out.shown(path).c_str(),
                      read_failure(error_number).c_str());
      break;
    case mp3db_verified_no_audio:
      ++run.unreadable;
      run.progress.finish();
      run.out.warning("%s: no audio content to digest (the entry is kept)",
                      run.out.shown(path).c_str());
      break;
    default:
      break;
  }
  run.progress.tick(path.c_str(), [&] {
    return "verifying: " + std::to_string(run.read) + " of " + std::to_string(run.listed) +
           " files read";
  });
  return interrupted() ? 0 : 1;
}

}  // namespace

int run_verify(database_session& session, const console& out) {
  verify_run run{out, progress_line("verifying", out.quiet())};
  run.listed = file_getfilenum();
  const int updated = file_verifydb(on_verified, &run);
  run.progress.finish();
  // Entries whose digest changed to one already listed leave the counts as they were.
  if (updated > 0) session.mark_changed();
  out.note("verify: %u of %u files read; %u changed, %u resized, %u could not be read",
           run.read, run.listed, run.changed, run.resized, run.unreadable);
  if (run.output_lost) {
    checked_output::report(out);
    out.error("verify stopped: its output is lost; the %d entries updated before are saved",
              updated);
    return kExitFailure;
  }
  if (interrupted()) {
    out.error("verify interrupted; the entries updated before the stop are kept");
    return kExitFailure;
  }
  return kExitSuccess;
}
