// DialogFunc: which command each message runs, the busy flag's protocol around them, the
// close held back for work under way, and the folder walk's progress callback.
#include "ui/dialog_func.h"

#include <stdio.h>

#include <QApplication>

#include "ui/application_start.h"
#include "ui/database_commands.h"
#include "ui/database_lock.h"
#include "ui/dialog_session.h"
#include "ui/listing_commands.h"
#include "ui/main_dialog.h"
#include "ui/move_command.h"
#include "ui/removal_commands.h"
#include "ui/status_lines.h"
#include "ui/tick_commands.h"

namespace {

// A close that came while work was under way is carried out once nothing runs any more.
void close_if_held(DialogSession& s) {
  if (s.close_held && s.working == 0 && s.scans_running == 0 && s.searches_running == 0 &&
      !s.view->ended()) {
    s.close_held = false;
    commands::close_dialog(s);
  }
}

// The commands that are refused while the dialog is busy, by the id of their button.
struct guarded_command {
  control_id id;
  void (*run)(DialogSession&);
};
constexpr guarded_command kGuardedCommands[] = {
    {kCreateDb, commands::create_db},
    {kOpenDb, commands::open_db},
    {kSaveDb, commands::save_db},
    {kScanDirectory, commands::scan_directory},
    {kAddFile, commands::add_file},
    {kDeleteSelected, commands::delete_selected},
    {kSearch, commands::search},
    {kMoveFiles, commands::move_ticked},
    {kDeleteAllDuplicates, commands::delete_all_duplicates},
    {kViewAll, commands::view_all_files},
    {kViewDuplicates, commands::view_duplicates},
    {kViewSearchResults, commands::view_search_results},
};

// The commands of the buttons; false for an id that carries none.
bool run_command(DialogSession& s, int command) {
  switch (command) {
    case kIdCancel:
      commands::escape(s);
      return true;
    case kCleanDb:
      // Not guarded: it runs at once, even nested in a walk; never while a search reads the
      // file table on its thread.
      if (s.searches_running == 0) commands::clean_db(s);
      return true;
    case kAbort:
      if (s.working != 0) {
        s.working = 0;
        UpdateStatus("Aborting actual action...", s.view);
      }
      return true;
    default:
      for (const guarded_command& c : kGuardedCommands) {
        if (c.id != command) continue;
        guarded(s, c.run);
        return true;
      }
      return false;
  }
}

}  // namespace

int DialogFunc(DialogSession* session, unsigned message, int command) {
  DialogSession& s = *session;
  switch (message) {
    case kDialogStart:
      s.working = 1;
      commands::apply_protection(s);
      commands::start(s);
      s.working = 0;
      window_lock::tell_if_read_only(&s);
      return 1;

    case kClose:
      if (s.working != 0) return 1;
      // After an abort a walk (or a search) is still winding down and may yet add files:
      // the close waits until it has returned, so that what is saved is what it left.
      if (s.scans_running > 0 || s.searches_running > 0) {
        s.close_held = true;
        return 1;
      }
      commands::close_dialog(s);
      return 1;

    case kCommand: {
      const bool handled = run_command(s, command);
      close_if_held(s);
      return handled ? 1 : 0;
    }

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
  if (const int status = tell_without_display(argc, argv); status >= 0) return status;
  QApplication app(argc, argv);
  if (const int status = prepare_application(app); status >= 0) return status;
  MainDialog dialog;
  DialogSession session(&dialog);
  return dialog.exec();
}
