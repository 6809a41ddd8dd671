// The main dialog's window: it holds the template's controls and tells what the user does
// (a button with its control id, the close box, Escape) through signals. It decides nothing:
// the commands live beside DialogFunc, which the session wires to these signals.
#ifndef VARNELO_UI_MAIN_DIALOG_H_
#define VARNELO_UI_MAIN_DIALOG_H_

#include <QDialog>
#include <QElapsedTimer>

#include "ui/control_ids.h"

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls at their places; nothing is loaded until a session starts it.
  MainDialog();

  // The control with that id.
  QWidget* control(control_id id) const;

  // Ends the dialog with result once the current command has returned to the event loop.
  void end(int result);
  bool ended() const { return ending_; }

  // Handles the dialog's pending events during long work, at most every few milliseconds so
  // that a walk over many small entries is not slowed by painting.
  void pump();

 signals:
  // A button was pressed: its control id (the dialog's command).
  void command(int id);
  // The close box or the system menu's Close. The window stays until end() is called.
  void closeRequested();
  // Escape.
  void escapePressed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  bool ending_ = false;
  QElapsedTimer since_pump_;
};

#endif  // VARNELO_UI_MAIN_DIALOG_H_
