// The running main dialog beside DialogFunc: the busy flag `working`, the folder walks under
// way and a close held back for them, the database lock's read-only state, and the one place
// where the view's signals are wired to DialogFunc.
#ifndef VARNELO_UI_DIALOG_SESSION_H_
#define VARNELO_UI_DIALOG_SESSION_H_

#include <stdint.h>

#include <QObject>

class MainDialog;

class DialogSession : public QObject {
  Q_OBJECT

 public:
  // Wires the view's buttons, close box and Escape to DialogFunc, makes the view the pump of
  // the library's folder walks, and delivers the dialog start (which loads "default.mp3db").
  explicit DialogSession(MainDialog* view);
  // Lets go of the pump and of the database's lock.
  ~DialogSession() override;
  DialogSession(const DialogSession&) = delete;
  DialogSession& operator=(const DialogSession&) = delete;

  MainDialog* const view;

  // 1 while a command of the dialog is carried out; "abort scanning" clears it, which is how
  // long work (a folder walk, a removal) learns to stop.
  int working = 0;
  // Folder walks on the stack (one runs nested in another after an abort) and a close that
  // came while one of them was still winding down.
  int scans_running = 0;
  bool close_held = false;
  // A title search reading the file table on its thread: nothing may change the table (a
  // stopped search still finishes its current step), and a close waits for it.
  int searches_running = 0;
  // The database was read while another program held its lock: nothing may change it until
  // the window has the lock (see database_lock.h).
  bool read_only = false;
  // Changes made here since the database was last loaded or saved (see unsaved_changes).
  bool changed = false;
  uint32_t saved_files = 0, saved_digests = 0;
};

// Guarded commands: refused while busy; otherwise `working` is held for the whole command.
class busy_guard {
 public:
  explicit busy_guard(DialogSession& s)
      : s_(s), taken_(s.working == 0 && s.searches_running == 0) {
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

// Runs command unless the dialog is busy.
template <typename Command>
void guarded(DialogSession& s, Command command) {
  busy_guard guard(s);
  if (!guard.refused()) command(s);
}

// The database in memory holds what it held when it was loaded or saved: remembered here.
void mark_saved(DialogSession& s);
// Whether the database holds changes not yet saved: a command changed it, or its counts are
// not those it had when it was loaded or saved.
bool unsaved_changes(const DialogSession& s);

#endif  // VARNELO_UI_DIALOG_SESSION_H_
