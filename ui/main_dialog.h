// The platform glue of the main dialog: a QDialog that holds the template's controls and
// hands the dialog start, every button press, Escape and the close box to DialogFunc.
#ifndef VARNELO_UI_MAIN_DIALOG_H_
#define VARNELO_UI_MAIN_DIALOG_H_

#include <QDialog>
#include <QElapsedTimer>

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and delivers the dialog start (which loads "default.mp3db").
  // While it exists, it is the pump of the library's folder walks and holds the lock of
  // its database.
  MainDialog();
  ~MainDialog() override;

  // Ends the dialog with result once the current command has returned to the event loop.
  void end(int result);
  bool ended() const { return ending_; }

  // Handles the dialog's pending events during a folder walk, at most every few
  // milliseconds so that a walk over many small entries is not slowed by painting.
  void pump();

  // Folder walks on the stack (one runs nested in another after an abort) and a close
  // that came while one of them was still winding down.
  int scans_running = 0;
  bool close_held = false;
  // The database was read while another program held its lock: nothing may change it
  // until the window has the lock (see database_lock.h).
  bool read_only = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  bool ending_ = false;
  QElapsedTimer since_pump_;
};

#endif  // VARNELO_UI_MAIN_DIALOG_H_
