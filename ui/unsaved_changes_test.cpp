// No silent loss of the database in memory: Open DB, Create new DB and Escape ask Save /
// Discard / Cancel over changes not yet saved, each answer doing what it says; and a default
// database that cannot be read is told once at the start and kept until a save moves it aside.
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/ui_test_support.h"

using namespace ui_test;  // the shared pieces of the window's tests

namespace {

// Adds a song through "Add File", which makes a change not yet saved.
void add_song(QWidget* dialog, const ui_test::fresh_folder& folder, const std::string& name,
              uint32_t seed) {
  write_song(folder.file(name), seed, name);
  prompts::set_next_file_name(QString::fromStdString(folder.file(name)));
  press(dialog, kAddFile);
}

QString asked(const QString& db, const QString& before) {
  return QStringLiteral("Varnelo: The database %1 holds changes that are not saved. Save them "
                        "before %2?")
      .arg(db, before);
}

}  // namespace

class UnsavedChangesTest : public QObject {
  Q_OBJECT

 private slots:
  void OpenAndCreateAskOverUnsavedChanges();
  void EscapeAsksAndEachAnswerDoesWhatItSays();
  void UnreadableDefaultDatabaseIsToldAtStartAndKept();
};

void UnsavedChangesTest::OpenAndCreateAskOverUnsavedChanges() {
  ui_test::fresh_folder folder;
  const std::string other = folder.file("other.mp3db");
  QCOMPARE(file_setdb(other.c_str()), 1);
  QCOMPARE(file_createdb(), 1);
  tables::clear();
  ui_test::window w;
  // Nothing changed yet: no question.
  prompts::set_next_file_name(QString::fromStdString(folder.file("default.mp3db")));
  press(&w.dialog, kOpenDb);
  QVERIFY(prompts::take_questions().isEmpty());

  add_song(&w.dialog, folder, "a.mp3", 1);
  // Cancel: the chosen database is not opened, nothing is written or dropped.
  prompts::set_next_answer(prompts::answer::cancel);
  prompts::set_next_file_name(QString::fromStdString(other));
  press(&w.dialog, kOpenDb);
  QCOMPARE(prompts::take_questions(),
           QStringList({asked(QString::fromStdString(folder.file("default.mp3db")),
                              QStringLiteral("opening ") + QString::fromStdString(other))}));
  QCOMPARE(file_getdbname(), folder.file("default.mp3db"));
  QCOMPARE(file_getfilenum(), 1u);
  QVERIFY(!exists(folder.file("default.mp3db")));
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Opening Database...(Selecting Filename)"));

  // Save: written first, then the other opened.
  prompts::set_next_answer(prompts::answer::save);
  prompts::set_next_file_name(QString::fromStdString(other));
  press(&w.dialog, kOpenDb);
  QCOMPARE(prompts::take_questions().size(), 1);
  QCOMPARE(files_on_disk(folder.file("default.mp3db")), 1u);
  QCOMPARE(file_getdbname(), other.c_str());
  QCOMPARE(file_getfilenum(), 0u);
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Opening Database...(Opening Complete)"));

  // Discard, before creating: the change is dropped as the Parts say, the new database made.
  add_song(&w.dialog, folder, "b.mp3", 2);
  prompts::set_next_answer(prompts::answer::discard);
  const std::string fresh = folder.file("fresh.mp3db");
  prompts::set_next_file_name(QString::fromStdString(fresh));
  press(&w.dialog, kCreateDb);
  QCOMPARE(prompts::take_questions().size(), 1);
  QCOMPARE(files_on_disk(other), 0u);
  QCOMPARE(files_on_disk(fresh), 0u);
  QCOMPARE(file_getdbname(), fresh.c_str());

  // A save that fails counts as Cancel: the entries stay in memory, the old name too.
  add_song(&w.dialog, folder, "c.mp3", 3);
  QCOMPARE(file_setdb(folder.file("gone/x.mp3db").c_str()), 1);
  prompts::set_next_answer(prompts::answer::save);
  prompts::set_next_file_name(QString::fromStdString(other));
  press(&w.dialog, kOpenDb);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo Error: error closing db"}));
  QCOMPARE(file_getfilenum(), 1u);
  QCOMPARE(file_getdbname(), folder.file("gone/x.mp3db").c_str());
}

void UnsavedChangesTest::EscapeAsksAndEachAnswerDoesWhatItSays() {
  ui_test::fresh_folder folder;
  ui_test::window w;
  add_song(&w.dialog, folder, "a.mp3", 1);
  prompts::set_next_answer(prompts::answer::cancel);
  QTest::keyClick(&w.dialog, Qt::Key_Escape);
  QCOMPARE(prompts::take_questions(),
           QStringList({QStringLiteral("Varnelo: The database default.mp3db holds changes that "
                                       "are not saved. Save them before ending?")}));
  QVERIFY(!w.dialog.ended());
  QVERIFY(!exists(folder.file("default.mp3db")));

  // Save ends as the close box does.
  prompts::set_next_answer(prompts::answer::save);
  QTest::keyClick(&w.dialog, Qt::Key_Escape);
  QVERIFY(w.dialog.ended());
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Exiting varnelo...(Good Bye :-))"));
  QCOMPARE(files_on_disk(folder.file("default.mp3db")), 1u);
  QCOMPARE(prompts::take_questions().size(), 1);

  // Saved, nothing changed since: Escape ends at once, without a question.
  tables::clear();
  ui_test::window again;
  QTest::keyClick(&again.dialog, Qt::Key_Escape);
  QVERIFY(again.dialog.ended());
  QVERIFY(prompts::take_questions().isEmpty());
}

void UnsavedChangesTest::UnreadableDefaultDatabaseIsToldAtStartAndKept() {
  ui_test::fresh_folder folder;
  const std::string junk = "this was a database once, before something wrote over its header";
  testing_support::write_file(folder.file("default.mp3db"), junk);
  ui_test::window w;
  QCOMPARE(prompts::take_boxes(),
           QStringList({"Varnelo Warning: The database default.mp3db could not be read. The "
                        "window starts with an empty database; default.mp3db is left as it is "
                        "until the next save moves it aside (to default.mp3db.unreadable) and "
                        "writes the database anew."}));
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Ready For Actions...(Waiting for Input :-))"));
  add_song(&w.dialog, folder, "a.mp3", 1);
  press(&w.dialog, kSaveDb);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  QCOMPARE(files_on_disk(folder.file("default.mp3db")), 1u);
  const auto kept = testing_support::read_file(folder.file("default.mp3db.unreadable"));
  QCOMPARE(std::string(kept.begin(), kept.end()), junk);

  // A missing default database, or an empty one, is no news.
  ui_test::fresh_folder second;
  { ui_test::window fresh; }
  testing_support::write_file(second.file("default.mp3db"), std::string());
  { ui_test::window empty; }
  QVERIFY(prompts::take_boxes().isEmpty());
}

QTEST_MAIN(UnsavedChangesTest)
#include "unsaved_changes_test.moc"
