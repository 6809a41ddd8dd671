// The commands on the database, each with its steps and texts on the lower status line.
#include "ui/database_commands.h"

#include <stdlib.h>
#include <string.h>

#include <QFile>
#include <QStringList>
#include <string>

#include "database/mp3_db.h"
#include "ui/database_lock.h"
#include "ui/dialog_func.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"

namespace commands {
namespace {

// The choosers' filters: (description, pattern) pairs stored as consecutive zero-terminated
// strings, ended by an empty one. "*" matches every name in Qt, where "*.*" would hide names
// without a dot.
constexpr char szFilter[] = "Varnelo DB-Files\0*.mp3db\0All Files\0*\0";
constexpr char szMp3Filter[] = "Mp3 Files\0*.mp3\0All Files\0*\0";

void error_box(DialogSession& s, const char* text) {
  prompts::message(s.view, QString::fromLatin1(text), QStringLiteral("Varnelo Error"));
}

// A filter list in Qt's form: "Description (pattern);;...".
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

// After a save that failed on closing: the entries go to a recovery file, and the box says
// where, since the window is about to end with them.
void keep_in_recovery_file(DialogSession& s) {
  const QString name = QFile::decodeName(file_getdbname());
  const uint32_t entries = file_getfilenum();
  char* written = file_saverecovery();
  if (written == nullptr) {
    prompts::message(s.view,
                     QStringLiteral("The database %1 could not be saved, nor a recovery file "
                                    "written: the changes since the last save are lost.")
                         .arg(name),
                     QStringLiteral("Varnelo Error"));
    return;
  }
  prompts::message(s.view,
                   QStringLiteral("The database %1 could not be saved. Its %2 entries were "
                                  "written to %3: open that file with Open DB, or rename it "
                                  "to %1.")
                       .arg(name)
                       .arg(entries)
                       .arg(QFile::decodeName(written)),
                   QStringLiteral("Varnelo Error"));
  free(written);
}

}  // namespace

void start(DialogSession& s) {
  // The lock before the load, so that what is read is what a save replaces.
  window_lock::take_for_reading(&s, "default.mp3db");
  file_initdb();
  UpdateTreeView(s.view);
  UpdateStatus("Ready For Actions...(Waiting for Input :-))", s.view);
}

void create_db(DialogSession& s) {
  UpdateStatus("Creating Database...(Selecting Filename)", s.view);
  const QString path = prompts::save_file(s.view, QStringLiteral("Varnelo 1.0 - Create DB"),
                                          QStringLiteral("DataBases"), qt_filter(szFilter));
  if (path.isEmpty()) return;
  const std::string previous = file_getdbname() != nullptr ? file_getdbname() : "";
  if (file_setdb(QFile::encodeName(path).constData()) == 0) error_box(s, "error setting db");
  // A database another program holds is not written over: the window stays as it was.
  if (!window_lock::take_for_creating(&s)) {
    file_setdb(previous.c_str());
    return;
  }
  if (file_createdb() == 0) error_box(s, "error creating db");
  if (file_opendb() == 0) error_box(s, "error opening db");
  UpdateStatus("Creating Database...(New Database Ready)", s.view);
  UpdateTreeView(s.view);
}

void open_db(DialogSession& s) {
  UpdateStatus("Opening Database...(Selecting Filename)", s.view);
  const QString path =
      prompts::open_file(s.view, QString(), QStringLiteral("DataBases"), qt_filter(szFilter));
  if (path.isEmpty()) return;
  file_setdb(QFile::encodeName(path).constData());
  window_lock::take_for_reading(&s, file_getdbname());
  UpdateStatus("Opening Database...(Reading Database)", s.view);
  file_opendb();
  UpdateStatus("Opening Database...(Database Read)", s.view);
  UpdateStatus("Opening Database...(Updating Listing of Entries)", s.view);
  UpdateTreeView(s.view);
  UpdateStatus("Opening Database...(Opening Complete)", s.view);
  window_lock::tell_if_read_only(&s);
}

void save_db(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Saving Database...(Writing Data)", s.view);
  if (file_closedb() == 0) {
    // Every entry is still in memory: reading the old file back would drop what was added
    // since, and "successfully" would be untrue. A later save can still write them.
    error_box(s, "error closing db");
    UpdateStatus("Saving Database...(Writing Failed)", s.view);
    return;
  }
  if (file_opendb() == 0) error_box(s, "error opening db");
  UpdateStatus("Saving Database...(Writing Successful)", s.view);
  prompts::message(s.view, QStringLiteral("Saved db successfully"), QStringLiteral("Varnelo"));
}

void clean_db(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Cleaning DB from deleted/missing files...(Cleaning Entries)", s.view);
  if (file_updatedb() == 0) {
    prompts::message(s.view, QStringLiteral("Cleaning not entirely successfull"),
                     QStringLiteral("Varnelo Error"));
  }
  UpdateStatus("Cleaning DB from deleted/missing files...(Updating Listing of Entries)",
               s.view);
  UpdateTreeView(s.view);
  UpdateStatus("Cleaning DB from deleted/missing files...(Cleaning Completed)", s.view);
}

void scan_directory(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Adding Directory...(Selecting Directory)", s.view);
  const QString path = prompts::folder(s.view, QStringLiteral("Select a folder"));
  if (path.isEmpty()) {
    UpdateStatus("Adding Directory...(Aborted)", s.view);
    return;
  }
  QByteArray dir = QFile::encodeName(path);
  UpdateStatus("Adding Directory...(Recursively Walking Directory Structure)", s.view);
  ++s.scans_running;
  add_directory(dir.data(), MyChangeCb, &s);
  --s.scans_running;
  UpdateTreeView(s.view);
  UpdateStatus("Adding Directory...(Adding Directory Completed)", s.view);
}

void add_file(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Adding Mp3-File...(Selecting File)", s.view);
  const QString path = prompts::open_file(
      s.view, QStringLiteral("Varnelo 1.0 - Add Mp3-file to DB"), QString(),
      qt_filter(szMp3Filter));
  if (path.isEmpty()) return;
  UpdateStatus("Adding Mp3-File...(Reading Content)", s.view);
  file_add(QFile::encodeName(path).constData());
  UpdateStatus("Adding Mp3-File...(Reading Completed)", s.view);
  UpdateTreeView(s.view);
}

void close_dialog(DialogSession& s) {
  UpdateStatus("Exiting... (Saving Database)", s.view);
  // Read-only, nothing was changed here, and the database is another program's to save.
  if (window_lock::may_save_on_close(&s) && file_closedb() == 0) {
    error_box(s, "error closing db");
    keep_in_recovery_file(s);
  }
  UpdateStatus("Exiting... (Saving Complete)", s.view);
  UpdateStatus("Exiting varnelo...(Good Bye :-))", s.view);
  s.view->end(0);
}

}  // namespace commands
