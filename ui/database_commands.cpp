// The commands on the database, each with its steps and texts on the lower status line.
#include "ui/database_commands.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

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
  mp3db_owned<char> written(file_saverecovery());
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
                       .arg(QFile::decodeName(written.get())),
                   QStringLiteral("Varnelo Error"));
}

// A default database that is there but could not be read is told once, not only on
// standard output: its entries are not shown, and it is not lost either.
void tell_if_unreadable(DialogSession& s, const char* name) {
  struct stat st;
  if (stat(name, &st) != 0) return;
  QString text;
  if (!S_ISREG(st.st_mode)) {
    text = QStringLiteral("%1 is not a database file (it is a folder or the like): the window "
                          "starts with an empty database, which cannot be saved under that name.");
  } else if (st.st_size > 0) {
    text = QStringLiteral("The database %1 could not be read. The window starts with an empty "
                          "database; %1 is left as it is until the next save moves it aside "
                          "(to %1.unreadable) and writes the database anew.");
  } else {
    return;  // an empty file holds nothing to lose
  }
  prompts::message(s.view, text.arg(QFile::decodeName(name)), QStringLiteral("Varnelo Warning"));
}

// Before the database in memory is replaced or left: when it holds changes not yet saved,
// asks Save / Discard / Cancel. True when the caller may go on; a save that fails is told
// and counts as Cancel, so nothing is lost.
bool settle_unsaved_changes(DialogSession& s, const QString& before) {
  if (s.read_only || !unsaved_changes(s)) return true;
  const prompts::answer a = prompts::ask(
      s.view,
      QStringLiteral("The database %1 holds changes that are not saved. Save them before %2?")
          .arg(QFile::decodeName(file_getdbname()), before),
      QStringLiteral("Varnelo"),
      {prompts::answer::save, prompts::answer::discard, prompts::answer::cancel},
      prompts::answer::save);
  if (a == prompts::answer::cancel) return false;
  if (a == prompts::answer::discard) return true;
  if (!window_lock::may_change(&s)) return false;
  if (file_closedb() == 0) {
    error_box(s, "error closing db");
    return false;
  }
  mark_saved(s);
  return true;
}

}  // namespace

void start(DialogSession& s) {
  // The lock before the load, so that what is read is what a save replaces.
  window_lock::take_for_reading(&s, "default.mp3db");
  if (file_initdb() == 0) tell_if_unreadable(s, "default.mp3db");
  mark_saved(s);
  UpdateTreeView(s.view);
  UpdateStatus("Ready For Actions...(Waiting for Input :-))", s.view);
}

void create_db(DialogSession& s) {
  UpdateStatus("Creating Database...(Selecting Filename)", s.view);
  const QString path = prompts::save_file(s.view, QStringLiteral("Varnelo 1.0 - Create DB"),
                                          QStringLiteral("DataBases"), qt_filter(szFilter));
  if (path.isEmpty()) return;
  if (!settle_unsaved_changes(s, QStringLiteral("creating %1").arg(path))) return;
  const std::string previous = file_getdbname() != nullptr ? file_getdbname() : "";
  if (file_setdb(QFile::encodeName(path).constData()) == 0) error_box(s, "error setting db");
  // A database another program holds is not written over: the window stays as it was.
  if (!window_lock::take_for_creating(&s)) {
    file_setdb(previous.c_str());
    return;
  }
  if (file_createdb() == 0) error_box(s, "error creating db");
  if (file_opendb() == 0) error_box(s, "error opening db");
  mark_saved(s);
  UpdateStatus("Creating Database...(New Database Ready)", s.view);
  UpdateTreeView(s.view);
}

void open_db(DialogSession& s) {
  UpdateStatus("Opening Database...(Selecting Filename)", s.view);
  const QString path =
      prompts::open_file(s.view, QString(), QStringLiteral("DataBases"), qt_filter(szFilter));
  if (path.isEmpty()) return;
  if (!settle_unsaved_changes(s, QStringLiteral("opening %1").arg(path))) return;
  file_setdb(QFile::encodeName(path).constData());
  window_lock::take_for_reading(&s, file_getdbname());
  UpdateStatus("Opening Database...(Reading Database)", s.view);
  file_opendb();
  mark_saved(s);
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
  mark_saved(s);
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
  if (add_directory(dir.data(), MyChangeCb, &s) > 0) s.changed = true;
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
  if (file_add(QFile::encodeName(path).constData()) == 1) s.changed = true;
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

void escape(DialogSession& s) {
  if (!s.read_only && unsaved_changes(s)) {
    const prompts::answer a = prompts::ask(
        s.view,
        QStringLiteral("The database %1 holds changes that are not saved. Save them before "
                       "ending?")
            .arg(QFile::decodeName(file_getdbname())),
        QStringLiteral("Varnelo"),
        {prompts::answer::save, prompts::answer::discard, prompts::answer::cancel},
        prompts::answer::save);
    if (a == prompts::answer::cancel) return;
    if (a == prompts::answer::save) {
      // As the close box does. Work under way is stopped first and the close held until it
      // has returned, so that what is saved is what it left.
      if (s.working != 0 || s.scans_running > 0 || s.searches_running > 0) {
        s.working = 0;
        s.close_held = true;
      } else {
        close_dialog(s);
      }
      return;
    }
  }
  s.view->end(0);
}

}  // namespace commands
