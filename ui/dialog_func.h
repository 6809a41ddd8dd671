// The main dialog's procedure and the folder walk's progress callback.
#ifndef VARNELO_UI_DIALOG_FUNC_H_
#define VARNELO_UI_DIALOG_FUNC_H_

#include "database/mp3_db.h"
#include "ui/control_ids.h"

class DialogSession;

// What DialogFunc is told.
enum dialog_message : unsigned {
  kDialogStart = 1,  // the dialog is being created
  kCommand = 2,      // a button (or Escape, kIdCancel) with its control id
  kClose = 3,        // the close box or the system menu's Close
};

// Carries out the dialog start, the commands of the dialog's buttons (and Escape), and the
// close, for the dialog of session. Returns 1 when the message was handled (also when a busy
// dialog refused it), 0 otherwise.
int DialogFunc(DialogSession* session, unsigned message, int command);

// Progress of a folder walk: writes the middle and upper lines; 1 to go on, 0 to stop. hwnd
// is the DialogSession the walk was started for.
int MyChangeCb(int files_new, int level, const char* name, const char* dir, window_handle hwnd);

// Prepares the application, runs the main dialog and gives its result as the exit code.
int WinMain(int argc, char** argv);

#endif  // VARNELO_UI_DIALOG_FUNC_H_
