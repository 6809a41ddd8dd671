// DialogFunc: which command each message runs, the busy flag's protocol around them, the
// close held back for a folder walk, and the walk's progress callback.
#include "ui/dialog_func.h"

#include <stdio.h>

#include <QApplication>

#include "ui/application_start.h"
#include "ui/database_commands.h"
#include "ui/database_lock.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/status_lines.h"

namespace {

// Guarded commands: refused while busy; otherwise `working` is held for the whole command.
class busy_guard {
 public:
  explicit busy_guard(DialogSession& s) : s_(s), taken_(s.working == 0) {
    if (taken_) s_.working = 1;
  }
  ~busy_guard() {
    if (taken_) s_.working = 0;
  }
  busy_guard(const busy_guard&) = delete;
  busy_guard& operator=(const busy_guard&) = delete;
  bool refused() const { return !taken_; }

 private:
  DialogSession& s_;
  bool taken_;
};

// Runs a guarded command unless the dialog is busy.
void guarded(DialogSession& s, void (*command)(DialogSession&)) {
  busy_guard guard(s);
  if (!guard.refused()) command(s);
}

void delete_ticked(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Deleting Mp3-Files...(Deleting Files From Disk)", s.view);
  CheckTreeView(s.view);
  UpdateStatus("Deleting Mp3-Files...(Deleting Files Completed)", s.view);
}

// A close that came while a walk was winding down is carried out once no walk is left.
void close_if_held(DialogSession& s) {
  if (s.close_held && s.scans_running == 0 && !s.view->ended()) {
    s.close_held = false;
    DialogFunc(&s, kClose, 0);
  }
}

}  // namespace

int DialogFunc(DialogSession* session, unsigned message, int command) {
  DialogSession& s = *session;
  switch (message) {
    case kDialogStart:
      s.working = 1;
      commands::start(s);
      s.working = 0;
      window_lock::tell_if_read_only(&s);
      return 1;

    case kClose:
      if (s.working != 0) return 1;
      // After an abort the walk is still winding down and may yet add files: the close
      // waits until it has returned, so that what is saved is what the walk left.
      if (s.scans_running > 0) {
        s.close_held = true;
        return 1;
      }
      commands::close_dialog(s);
      return 1;

    case kCommand:
      break;

    default:
      return 0;
  }

  switch (command) {
    case kIdCancel:
      s.view->end(0);
      return 1;
    case kCreateDb:
      guarded(s, commands::create_db);
      return 1;
    case kOpenDb:
      guarded(s, commands::open_db);
      return 1;
    case kSaveDb:
      guarded(s, commands::save_db);
      return 1;
    case kCleanDb:
      commands::clean_db(s);  // not guarded: it runs at once, even nested in a walk
      return 1;
    case kScanDirectory:
      guarded(s, commands::scan_directory);
      close_if_held(s);
      return 1;
    case kAddFile:
      guarded(s, commands::add_file);
      return 1;
    case kDeleteSelected:
      guarded(s, delete_ticked);
      return 1;
    case kAbort:
      if (s.working != 0) {
        s.working = 0;
        UpdateStatus("Aborting actual action...", s.view);
      }
      return 1;
    default:
      return 0;
  }
}

int MyChangeCb(int files_new, int level, const char* name, const char* dir, window_handle hwnd) {
  auto* session = static_cast<DialogSession*>(hwnd);
  QWidget* dialog = session->view;
  char text[8192];
  if (level != -1) {
    snprintf(text, sizeof text, "%d Files added to DB! Last added File:%s.", files_new, name);
    UpdateStatus2(text, dialog);
    snprintf(text, sizeof text, "Level:%d (1=Top). Actual Directory Name:%s.", level, dir);
    UpdateStatus3(text, dialog);
  } else {
    snprintf(text, sizeof text, "%d Files added to DB!", files_new);
    UpdateStatus2(text, dialog);
    UpdateStatus3("", dialog);
  }
  // A dialog already ended by Escape saves nothing, so the rest of the walk would be wasted.
  return session->working != 0 && !session->view->ended() ? 1 : 0;
}

int WinMain(int argc, char** argv) {
  QApplication app(argc, argv);
  if (const int status = prepare_application(app); status >= 0) return status;
  MainDialog dialog;
  DialogSession session(&dialog);
  return dialog.exec();
}
