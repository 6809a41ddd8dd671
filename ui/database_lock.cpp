// Taking, moving and retrying the lock of the window's database, and the boxes about it.
#include "ui/database_lock.h"

#include <QFile>
#include <QString>

#include "database/mp3_db.h"
#include "ui/duplicates_view.h"
#include "ui/dialog_session.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"

namespace window_lock {
namespace {

constexpr const char* kProgram = "varnelo";

QString database_name() { return QFile::decodeName(file_getdbname()); }

// "PROGRAM (process PID)" of the holder that the last refused lock named.
QString holder() {
  const char* program = nullptr;
  const int32_t pid = file_lockholder(&program);
  QString name = program != nullptr && *program != '\0' ? QString::fromLocal8Bit(program)
                                                        : QStringLiteral("another program");
  if (pid > 0) name += QStringLiteral(" (process %1)").arg(pid);
  return name;
}

void refuse(DialogSession* session) {
  prompts::message(session->view,
                   QStringLiteral("The database %1 is in use by %2. Close that program and try "
                                  "again; nothing was changed.")
                       .arg(database_name(), holder()),
                   QStringLiteral("Varnelo Error"));
}

}  // namespace

void take_for_reading(DialogSession* session, const char* name) {
  const int locked = file_lockdb(name, kProgram);
  // The database held before is not this window's any more, whatever became of this one.
  if (locked != 1) file_unlockdb();
  // Where no lock can be had at all (a folder that does not exist), nobody else can hold
  // one either: the window works as it always did.
  session->read_only = locked == 0;
}

void tell_if_read_only(DialogSession* session) {
  if (!session->read_only) return;
  prompts::message(session->view,
                   QStringLiteral("The database %1 is in use by %2. It is shown read-only: "
                                  "changes and saving are refused until that program lets it go.")
                       .arg(database_name(), holder()),
                   QStringLiteral("Varnelo Warning"));
}

bool take_for_creating(DialogSession* session) {
  const int locked = file_lockdb(file_getdbname(), kProgram);
  if (locked == 0) {
    refuse(session);
    return false;
  }
  if (locked != 1) file_unlockdb();
  session->read_only = false;
  return true;
}

bool may_change(DialogSession* session) {
  const char* name = file_getdbname();
  if (file_haslock(name)) return true;
  const int locked = file_lockdb(name, kProgram);
  if (locked == 0) {
    refuse(session);
    return false;
  }
  if (session->read_only) {
    session->read_only = false;
    if (file_dbchanged()) {
      file_opendb();
      UpdateTreeView(session->view);
    }
  }
  return true;
}

bool may_save_on_close(const DialogSession* session) { return !session->read_only; }

}  // namespace window_lock
