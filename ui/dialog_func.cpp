// The main dialog's commands, the busy flag `working` and the walk's progress callback.
#include "ui/dialog_func.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <string>

#include "ui/application_start.h"
#include "ui/database_lock.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"

namespace {

// 1 while a command of the dialog is carried out; "abort scanning" clears it, which is how
// a running folder walk learns to stop.
int working = 0;

MainDialog* main_dialog(QWidget* dialog) { return static_cast<MainDialog*>(dialog); }

void error_box(QWidget* dialog, const char* text) {
  prompts::message(dialog, QString::fromLatin1(text), QStringLiteral("Varnelo Error"));
}

// A filter list of (description, pattern) pairs stored as consecutive zero-terminated
// strings, ended by an empty one, in Qt's form: "Description (pattern);;...".
QString qt_filter(const char* pairs) {
  QStringList parts;
  for (const char* p = pairs; *p != '\0';) {
    const char* description = p;
    p += strlen(p) + 1;
    const char* pattern = p;
    p += strlen(p) + 1;
    parts << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(description),
                                           QString::fromLatin1(pattern));
  }
  return parts.join(QStringLiteral(";;"));
}

// Guarded commands: refused while busy; otherwise `working` is held for the whole command.
class busy_guard {
 public:
  busy_guard() : taken_(working == 0) {
    if (taken_) working = 1;
  }
  ~busy_guard() {
    if (taken_) working = 0;
  }
  busy_guard(const busy_guard&) = delete;
  busy_guard& operator=(const busy_guard&) = delete;
  bool refused() const { return !taken_; }

 private:
  bool taken_;
};

void create_db(QWidget* dialog, const char* filter) {
  UpdateStatus("Creating Database...(Selecting Filename)", dialog);
  const QString path = prompts::save_file(dialog, QStringLiteral("Varnelo 1.0 - Create DB"),
                                          QStringLiteral("DataBases"), qt_filter(filter));
  if (path.isEmpty()) return;
  const std::string previous = file_getdbname() != nullptr ? file_getdbname() : "";
  if (file_setdb(QFile::encodeName(path).constData()) == 0) error_box(dialog, "error setting db");
  // A database another program holds is not written over: the window stays as it was.
  if (!window_lock::take_for_creating(main_dialog(dialog))) {
    file_setdb(previous.c_str());
    return;
  }
  if (file_createdb() == 0) error_box(dialog, "error creating db");
  if (file_opendb() == 0) error_box(dialog, "error opening db");
  UpdateStatus("Creating Database...(New Database Ready)", dialog);
  UpdateTreeView(dialog);
}

void open_db(QWidget* dialog, const char* filter) {
  UpdateStatus("Opening Database...(Selecting Filename)", dialog);
  const QString path =
      prompts::open_file(dialog, QString(), QStringLiteral("DataBases"), qt_filter(filter));
  if (path.isEmpty()) return;
  file_setdb(QFile::encodeName(path).constData());
  window_lock::take_for_reading(main_dialog(dialog), file_getdbname());
  UpdateStatus("Opening Database...(Reading Database)", dialog);
  file_opendb();
  UpdateStatus("Opening Database...(Database Read)", dialog);
  UpdateStatus("Opening Database...(Updating Listing of Entries)", dialog);
  UpdateTreeView(dialog);
  UpdateStatus("Opening Database...(Opening Complete)", dialog);
  window_lock::tell_if_read_only(main_dialog(dialog));
}

void save_db(QWidget* dialog) {
  if (!window_lock::may_change(main_dialog(dialog))) return;
  UpdateStatus("Saving Database...(Writing Data)", dialog);
  if (file_closedb() == 0) {
    // Every entry is still in memory: reading the old file back would drop what was added
    // since, and "successfully" would be untrue. A later save can still write them.
    error_box(dialog, "error closing db");
    UpdateStatus("Saving Database...(Writing Failed)", dialog);
    return;
  }
  if (file_opendb() == 0) error_box(dialog, "error opening db");
  UpdateStatus("Saving Database...(Writing Successful)", dialog);
  prompts::message(dialog, QStringLiteral("Saved db successfully"), QStringLiteral("Varnelo"));
}

void clean_db(QWidget* dialog) {
  if (!window_lock::may_change(main_dialog(dialog))) return;
  UpdateStatus("Cleaning DB from deleted/missing files...(Cleaning Entries)", dialog);
  if (file_updatedb() == 0) {
    prompts::message(dialog, QStringLiteral("Cleaning not entirely successfull"),
                     QStringLiteral("Varnelo Error"));
  }
  UpdateStatus("Cleaning DB from deleted/missing files...(Updating Listing of Entries)", dialog);
  UpdateTreeView(dialog);
  UpdateStatus("Cleaning DB from deleted/missing files...(Cleaning Completed)", dialog);
}

void scan_directory(QWidget* dialog) {
  if (!window_lock::may_change(main_dialog(dialog))) return;
  UpdateStatus("Adding Directory...(Selecting Directory)", dialog);
  const QString path = prompts::folder(dialog, QStringLiteral("Select a folder"));
  if (path.isEmpty()) {
    UpdateStatus("Adding Directory...(Aborted)", dialog);
    return;
  }
  QByteArray dir = QFile::encodeName(path);
  UpdateStatus("Adding Directory...(Recursively Walking Directory Structure)", dialog);
  MainDialog* window = main_dialog(dialog);
  ++window->scans_running;
  add_directory(dir.data(), MyChangeCb, dialog);
  --window->scans_running;
  UpdateTreeView(dialog);
  UpdateStatus("Adding Directory...(Adding Directory Completed)", dialog);
}

void add_file(QWidget* dialog, const char* filter) {
  if (!window_lock::may_change(main_dialog(dialog))) return;
  UpdateStatus("Adding Mp3-File...(Selecting File)", dialog);
  const QString path = prompts::open_file(
      dialog, QStringLiteral("Varnelo 1.0 - Add Mp3-file to DB"), QString(), qt_filter(filter));
  if (path.isEmpty()) return;
  UpdateStatus("Adding Mp3-File...(Reading Content)", dialog);
  file_add(QFile::encodeName(path).constData());
  UpdateStatus("Adding Mp3-File...(Reading Completed)", dialog);
  UpdateTreeView(dialog);
}

void delete_ticked(QWidget* dialog) {
  if (!window_lock::may_change(main_dialog(dialog))) return;
  UpdateStatus("Deleting Mp3-Files...(Deleting Files From Disk)", dialog);
  CheckTreeView(dialog);
  UpdateStatus("Deleting Mp3-Files...(Deleting Files Completed)", dialog);
}

// After a save that failed on closing: the entries go to a recovery file, and the box says
// where, since the window is about to end with them.
void keep_in_recovery_file(QWidget* dialog) {
  const QString name = QFile::decodeName(file_getdbname());
  const uint32_t entries = file_getfilenum();
  char* written = file_saverecovery();
  if (written == nullptr) {
    prompts::message(dialog,
                     QStringLiteral("The database %1 could not be saved, nor a recovery file "
                                    "written: the changes since the last save are lost.")
                         .arg(name),
                     QStringLiteral("Varnelo Error"));
    return;
  }
  prompts::message(dialog,
                   QStringLiteral("The database %1 could not be saved. Its %2 entries were "
                                  "written to %3: open that file with Open DB, or rename it "
                                  "to %1.")
                       .arg(name)
                       .arg(entries)
                       .arg(QFile::decodeName(written)),
                   QStringLiteral("Varnelo Error"));
  free(written);
}

void close_dialog(QWidget* dialog) {
  UpdateStatus("Exiting... (Saving Database)", dialog);
  // Read-only, nothing was changed here, and the database is another program's to save.
  if (window_lock::may_save_on_close(main_dialog(dialog)) && file_closedb() == 0) {
    error_box(dialog, "error closing db");
    keep_in_recovery_file(dialog);
  }
  UpdateStatus("Exiting... (Saving Complete)", dialog);
  UpdateStatus("Exiting varnelo...(Good Bye :-))", dialog);
  main_dialog(dialog)->end(0);
}

// Runs a guarded command unless the dialog is busy.
template <typename Command>
void guarded(Command command) {
  busy_guard guard;
  if (!guard.refused()) command();
}

}  // namespace

int DialogFunc(QWidget* dialog, unsigned message, int command) {
  // The choosers' filters: (description, pattern) pairs. "*" matches every name in Qt,
  // where "*.*" would hide names without a dot.
  static constexpr char szFilter[] = "Varnelo DB-Files\0*.mp3db\0All Files\0*\0";
  static constexpr char szMp3Filter[] = "Mp3 Files\0*.mp3\0All Files\0*\0";
  MainDialog* window = main_dialog(dialog);

  switch (message) {
    case kDialogStart:
      working = 1;
      // The lock before the load, so that what is read is what a save replaces.
      window_lock::take_for_reading(window, "default.mp3db");
      file_initdb();
      UpdateTreeView(dialog);
      UpdateStatus("Ready For Actions...(Waiting for Input :-))", dialog);
      working = 0;
      window_lock::tell_if_read_only(window);
      return 1;

    case kClose:
      if (working != 0) return 1;
      // After an abort the walk is still winding down and may yet add files: the close
      // waits until it has returned, so that what is saved is what the walk left.
      if (window->scans_running > 0) {
        window->close_held = true;
        return 1;
      }
      close_dialog(dialog);
      return 1;

    case kCommand:
      break;

    default:
      return 0;
  }

  switch (command) {
    case kIdCancel:
      window->end(0);
      return 1;
    case 1002:
      guarded([&] { create_db(dialog, szFilter); });
      return 1;
    case 1003:
      guarded([&] { open_db(dialog, szFilter); });
      return 1;
    case 1004:
      guarded([&] { save_db(dialog); });
      return 1;
    case 1005:
      clean_db(dialog);
      return 1;
    case 1006:
      guarded([&] { scan_directory(dialog); });
      if (window->close_held && window->scans_running == 0 && !window->ended()) {
        window->close_held = false;
        DialogFunc(dialog, kClose, 0);
      }
      return 1;
    case 1007:
      guarded([&] { add_file(dialog, szMp3Filter); });
      return 1;
    case 1012:
      guarded([&] { delete_ticked(dialog); });
      return 1;
    case 1013:
      if (working != 0) {
        working = 0;
        UpdateStatus("Aborting actual action...", dialog);
      }
      return 1;
    default:
      return 0;
  }
}

int MyChangeCb(int files_new, int level, const char* name, const char* dir, window_handle hwnd) {
  auto* dialog = static_cast<QWidget*>(hwnd);
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
  return working != 0 && !main_dialog(dialog)->ended() ? 1 : 0;
}

int WinMain(int argc, char** argv) {
  QApplication app(argc, argv);
  if (const int status = prepare_application(app); status >= 0) return status;
  MainDialog dialog;
  return dialog.exec();
}
