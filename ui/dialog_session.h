// The running main dialog beside DialogFunc: the busy flag `working`, the folder walks under
// way and a close held back for them, the database lock's read-only state, and the one place
// where the view's signals are wired to DialogFunc.
#ifndef VARNELO_UI_DIALOG_SESSION_H_
#define VARNELO_UI_DIALOG_SESSION_H_

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
  // The database was read while another program held its lock: nothing may change it until
  // the window has the lock (see database_lock.h).
  bool read_only = false;
};

#endif  // VARNELO_UI_DIALOG_SESSION_H_
