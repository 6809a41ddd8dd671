// The window and its database when saving fails for real or another program holds the
// database: entries kept after a failed save, a read-only start, refused commands naming
// the holder, the lock taken again once free, and the lock moving with Open and Create.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QGroupBox>

#include "tests/support/other_process.h"
#include "ui/dialog_func.h"
#include "ui/dialog_session.h"
#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

using testing_support::other_process;
using namespace ui_test;  // the shared pieces of the window's tests

namespace {

QString in_use(const QString& db, pid_t pid) {
  return QStringLiteral(
             "Varnelo Error: The database %1 is in use by varnelo-cli (process %2). "
             "Close that program and try again; nothing was changed.")
      .arg(db)
      .arg(pid);
}

QString read_only(const QString& db, pid_t pid) {
  return QStringLiteral(
             "Varnelo Warning: The database %1 is in use by varnelo-cli (process %2). "
             "It is shown read-only: changes and saving are refused until that "
             "program lets it go.")
      .arg(db)
      .arg(pid);
}

// Files written beyond the previous database's length fail (EFBIG) while it lives.
class file_size_limit {
 public:
  explicit file_size_limit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {bytes, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  struct rlimit saved_ = {};
  sighandler_t old_handler_ = nullptr;
};

}  // namespace

class DatabaseLockTest : public QObject {
  Q_OBJECT

 private slots:
  void FailedSaveKeepsEveryEntryForALaterSave();
  void ReadOnlyWhileAnotherProgramHoldsTheDatabase();
  void OpenAndCreateMoveTheLock();
};

void DatabaseLockTest::FailedSaveKeepsEveryEntryForALaterSave() {
  ui_test::fresh_folder folder;
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  for (int i = 0; i < 3; ++i) {
    write_song(folder.file("s" + std::to_string(i) + ".mp3"), i);
    QCOMPARE(file_add(folder.file("s" + std::to_string(i) + ".mp3").c_str()), 1);
  }
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  const auto saved = testing_support::read_file(folder.file("default.mp3db"));
  for (int i = 3; i < 23; ++i) {
    const std::string song = folder.file("a song with a longer name " + std::to_string(i) + ".mp3");
    write_song(song, i);
    QCOMPARE(file_add(song.c_str()), 1);
  }
  {
    file_size_limit full(saved.size());
    press(&dialog, 1004);
  }
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo Error: error closing db"}));
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Saving Database...(Writing Failed)"));
  QCOMPARE(file_getfilenum(), 23u);
  QCOMPARE(testing_support::read_file(folder.file("default.mp3db")), saved);

  // A later save writes them all, and so does closing.
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  QCOMPARE(files_on_disk(folder.file("default.mp3db")), 23u);
  write_song(folder.file("last.mp3"), 99);
  QCOMPARE(file_add(folder.file("last.mp3").c_str()), 1);
  dialog.close();
  QVERIFY(dialog.ended());
  QCOMPARE(files_on_disk(folder.file("default.mp3db")), 24u);
}

void DatabaseLockTest::ReadOnlyWhileAnotherProgramHoldsTheDatabase() {
  ui_test::fresh_folder folder;
  const std::string db = folder.file("default.mp3db");
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) write_song(folder.file(name), name[0]);
  QCOMPARE(file_setdb("default.mp3db"), 1);
  QCOMPARE(file_add(folder.file("a.mp3").c_str()), 1);
  QCOMPARE(file_closedb(), 1);
  other_process cli;
  QCOMPARE(cli.lock(db, "varnelo-cli"), 1);

  {
    // Started while the other holds it: read, told once, and closed without a save.
    MainDialog dialog;
    DialogSession session(&dialog);
    dialog.show();
    QCOMPARE(prompts::take_boxes(), QStringList({read_only("default.mp3db", cli.pid())}));
    QCOMPARE(file_getfilenum(), 1u);
    const auto before = testing_support::read_file(db);
    struct stat st_before;
    QCOMPARE(stat(db.c_str(), &st_before), 0);
    dialog.close();
    QVERIFY(dialog.ended());
    QVERIFY(prompts::take_boxes().isEmpty());
    struct stat st_after;
    QCOMPARE(stat(db.c_str(), &st_after), 0);
    QCOMPARE(st_after.st_ino, st_before.st_ino);
    QCOMPARE(testing_support::read_file(db), before);
  }

  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  prompts::take_boxes();
  const QString ready = text_of(&dialog, 1009);
  // Every command that would change or save the database is refused before its first step.
  for (int id : {1004, 1005, 1006, 1007, 1012}) {
    press(&dialog, id);
    QCOMPARE(prompts::take_boxes(), QStringList({in_use("default.mp3db", cli.pid())}));
    QVERIFY(prompts::take_requests().isEmpty());
    QCOMPARE(text_of(&dialog, 1009), ready);
  }
  QCOMPARE(file_getfilenum(), 1u);

  // The other program saves and lets go; the next command takes the lock, reads what was
  // saved meanwhile and then does its work.
  QCOMPARE(cli.add_and_save(db, folder.file("b.mp3")), 1);
  cli.unlock();
  prompts::set_next_file_name(QString::fromStdString(folder.file("c.mp3")));
  press(&dialog, 1007);
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Adding Mp3-File...(Reading Completed)"));
  QCOMPARE(file_getfilenum(), 3u);
  QCOMPARE(file_haslock("default.mp3db"), 1);
  QCOMPARE(cli.lock(db, "varnelo-cli"), 0);
  QCOMPARE(cli.holder(), QStringLiteral("%1 varnelo").arg(getpid()).toStdString());
  dialog.close();
  QCOMPARE(files_on_disk(db), 3u);
}

void DatabaseLockTest::OpenAndCreateMoveTheLock() {
  ui_test::fresh_folder folder;
  const std::string db = folder.file("default.mp3db");
  const std::string second = folder.file("second.mp3db");
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  other_process cli;
  QCOMPARE(cli.lock(db, "varnelo-cli"), 0);

  // A new database: its lock is the window's now, the old one free.
  prompts::set_next_file_name(QString::fromStdString(second));
  press(&dialog, 1002);
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(file_haslock(second.c_str()), 1);
  QCOMPARE(cli.lock(db, "varnelo-cli"), 1);

  // Creating over a database another program holds: refused, nothing written, the window
  // still on its database.
  prompts::set_next_file_name(QString::fromStdString(db));
  press(&dialog, 1002);
  QCOMPARE(prompts::take_boxes(), QStringList({in_use(QString::fromStdString(db), cli.pid())}));
  QVERIFY(!exists(db));
  QCOMPARE(file_getdbname(), second.c_str());
  QCOMPARE(file_haslock(second.c_str()), 1);

  // Opening it: read-only, said once; a save waits until the other program is gone.
  prompts::set_next_file_name(QString::fromStdString(db));
  press(&dialog, 1003);
  QCOMPARE(prompts::take_boxes(), QStringList({read_only(QString::fromStdString(db), cli.pid())}));
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Opening Database...(Opening Complete)"));
  QCOMPARE(file_haslock(second.c_str()), 0);
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({in_use(QString::fromStdString(db), cli.pid())}));
  cli.kill_hard();
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  QCOMPARE(files_on_disk(db), 0u);
}

QTEST_MAIN(DatabaseLockTest)
#include "database_lock_test.moc"
