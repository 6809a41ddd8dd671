// What the window does before its dialog opens: who it says it is (name, version, icon,
// desktop entry) and what its command line asks for (--help, --version, --data-folder).
#ifndef VARNELO_UI_APPLICATION_START_H_
#define VARNELO_UI_APPLICATION_START_H_

#include <QIcon>
#include <QString>
#include <QStringList>

class QApplication;

// The id of the desktop entry, the icon and the AppStream metadata the window is installed
// with; the desktop shell finds the window's entry (and its icon) by it.
inline constexpr const char* kApplicationId = "org.varnelo.Varnelo";

// Names the application, gives it its icon and applies its command line. Returns -1 when
// the dialog should open, otherwise the exit status to end with at once. --help and
// --version print and end the process; so does an unknown option (status 1).
int prepare_application(QApplication& app);

// For a command line that asks only for --help or --version: tells it without a display
// (no window system is needed for text) and returns the exit status; otherwise -1.
int tell_without_display(int argc, char** argv);

// The command line alone (arguments[0] is the program): -1 to go on, otherwise the exit
// status. With --data-folder the data folder is made and entered, and a failure to do so is
// told in a "Varnelo Error" box and on standard error (status 1). An operand is a usage
// error (status 2): the window takes no file to open.
int apply_command_line(const QStringList& arguments);

// The folder the window works in when started from the desktop: $XDG_DATA_HOME/varnelo, or
// ~/.local/share/varnelo when XDG_DATA_HOME is unset, empty or not an absolute path.
QString data_folder_path();

// Makes folder and every missing folder above it (each private to the user, 0700), and
// DataBases/ inside it where the database choosers start, then makes folder the current
// directory. Nothing that exists is changed. False, with the reason in *error, on failure.
bool enter_data_folder(const QString& folder, QString* error);

// The window's icon, drawn from the SVG compiled into the program at the usual sizes.
QIcon application_icon();

#endif  // VARNELO_UI_APPLICATION_START_H_
