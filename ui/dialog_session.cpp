// Wiring the view to DialogFunc, and the pump of the library's folder walks.
#include "ui/dialog_session.h"

#include "database/mp3_db.h"
#include "ui/dialog_func.h"
#include "ui/main_dialog.h"
#include "ui/tree_menu.h"

DialogSession::DialogSession(MainDialog* dialog) : view(dialog) {
  connect(view, &MainDialog::command, this, [this](int id) { DialogFunc(this, kCommand, id); });
  connect(view, &MainDialog::closeRequested, this, [this] { DialogFunc(this, kClose, 0); });
  connect(view, &MainDialog::escapePressed, this,
          [this] { DialogFunc(this, kCommand, kIdCancel); });
  // During a folder walk the library hands the dialog's pending events to the dialog.
  // A walk started without a window (hwnd null) has nothing to pump.
  mp3db_set_event_pump([](window_handle hwnd) {
    if (hwnd != nullptr) static_cast<DialogSession*>(hwnd)->view->pump();
  });
  install_tree_menu(*this);
  DialogFunc(this, kDialogStart, 0);
}

DialogSession::~DialogSession() {
  mp3db_set_event_pump(nullptr);
  file_unlockdb();
}

void mark_saved(DialogSession& s) {
  s.changed = false;
  s.saved_files = file_getfilenum();
  s.saved_digests = file_gethashnum();
}

bool unsaved_changes(const DialogSession& s) {
  return s.changed || file_getfilenum() != s.saved_files || file_gethashnum() != s.saved_digests;
}
