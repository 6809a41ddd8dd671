// The main dialog driven whole on the offscreen platform: its controls, every command's
// steps, texts and boxes, the busy flag during a folder walk, and ending it.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <functional>

#include "ui/dialog_func.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/dialog_session.h"
#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

using namespace ui_test;  // the shared pieces of the window's tests

namespace {

// Runs action once from within the first event pump of a folder walk, i.e. while
// add_directory is on the stack, and tells whether it ran.
class during_walk {
 public:
  explicit during_walk(std::function<void()> action) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this, action] {
      ran_ = true;
      action();
    });
    timer_.start(0);
  }
  bool ran() const { return ran_; }

 private:
  QTimer timer_;
  bool ran_ = false;
};

// A folder of songs: pairs with the same audio and different tags.
void write_album(const std::string& folder, int songs) {
  testing_support::make_dirs(folder);
  for (int i = 0; i < songs; ++i) {
    char name[32];
    snprintf(name, sizeof name, "/song%02d.mp3", i);
    write_song(folder + name, static_cast<uint32_t>(i / 2), "take " + std::to_string(i));
  }
}

int keep_going(int, int, const char*, const char*, window_handle) { return 1; }

// Scans folder through Add Directory with action run once during the walk; tells whether
// it ran.
bool scan_running(QWidget* dialog, const std::string& folder, std::function<void()> action) {
  prompts::set_next_file_name(QString::fromStdString(folder));
  during_walk walk(std::move(action));
  press(dialog, kScanDirectory);
  return walk.ran();
}

// Pressing button id with its chooser cancelled asks for that one chooser and leaves the
// lower line saying lower_line.
void expect_cancelled(QWidget* dialog, int id, const prompts::chooser_request& want,
                      const QString& lower_line) {
  choose_and_press(dialog, "", id);
  QCOMPARE(text_of(dialog, kLowerLine), lower_line);
  const auto requests = prompts::take_requests();
  QCOMPARE(requests.size(), 1);
  QCOMPARE(requests[0].kind, want.kind);
  QCOMPARE(requests[0].title, want.title);
  QCOMPARE(requests[0].folder, want.folder);
  QCOMPARE(requests[0].filter, want.filter);
}

// The store and the view hold pairs of copies, as write_album makes them: each pair a group
// and one duplicate.
void expect_pairs_listed(QWidget* dialog, int pairs) {
  expect_listed(dialog, static_cast<uint32_t>(2 * pairs), pairs);
  QCOMPARE(text_of(dialog, kMiddleLine),
           QStringLiteral("found %1 duplicates in DB! Which take 0 MB of space.").arg(pairs));
}

const QString kDatabaseFilter = QStringLiteral("Varnelo DB-Files (*.mp3db);;All Files (*)");

}  // namespace

class DialogTest : public QObject, public ui_test::window_fixture {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void StartsWithTemplateControlsAndTexts();
  void PlacesControlsInDialogUnitsWithFrameBeneath();
  void StartLoadsDefaultDatabase();
  void CreateAsksThenCreatesOrReportsEachFailure();
  void OpenReadsChosenDatabaseWithoutBoxes();
  void SaveWritesReloadsOrTellsItFailed();
  void CleanDropsVanishedFiles();
  void AddFileTakesChosenFile();
  void ScanListsDuplicatesOrStopsWhenChooserCancelled();
  void OkAndIdleAbortChangeNothing();
  void ProgressCallbackWritesLinesAndAnswersAbort();
  void WalkRefusesGuardedCommandsAndCloseButRunsClean();
  void AbortStopsWalkMidway();
  void CloseAfterAbortWaitsForWalkThenSaves();
  void EscapeEndsWithoutSavingEvenDuringWalk();
  void CloseSavesAndEnds();
};

void DialogTest::init() { start(); }
void DialogTest::cleanup() { finish(); }

void DialogTest::StartsWithTemplateControlsAndTexts() {
  MainDialog& dialog = open_dialog();
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Varnelo"));
  QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));

  int found = 0;
  for (const auto& c : dialog_template::kControls) {
    QWidget* w = dialog_template::find(&dialog, c.id);
    QVERIFY2(w != nullptr, qPrintable(QString::number(c.id)));
    ++found;
    if (c.kind == dialog_template::control_kind::push_button) {
      QCOMPARE(qobject_cast<QPushButton*>(w)->text(), QString::fromLatin1(c.text));
    }
  }
  QCOMPARE(found, 22);
  QCOMPARE(dialog.findChildren<QWidget*>(QRegularExpression("^control_")).size(), 22);
  QVERIFY(qobject_cast<QTreeView*>(dialog_template::find(&dialog, 1000)));
  QVERIFY(qobject_cast<QLineEdit*>(dialog_template::find(&dialog, 1020)));
  QCOMPARE(text_of(&dialog, 104), QStringLiteral("Search the whole db for Mp3s :"));
  QCOMPARE(text_of(&dialog, 108), QStringLiteral("Duplicates View"));
  QCOMPARE(text_of(&dialog, 1013), QStringLiteral("abort scanning"));

  // After the start: the empty default database, its statistics and the ready text.
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Ready For Actions...(Waiting for Input :-))"));
  QCOMPARE(text_of(&dialog, 1010),
           QStringLiteral("found 0 duplicates in DB! Which take 0 MB of space."));
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Files in DB : 0 Mp3s ,Size of all Mp3s together : 0 MB"));
  QCOMPARE(qobject_cast<QGroupBox*>(dialog_template::find(&dialog, 1001))->title(),
           QStringLiteral("Database: default.mp3db"));
  QCOMPARE(model_of(&dialog)->rowCount(), 0);

  // Tab order is template order: tree, the buttons in their order, the edit box.
  std::vector<int> expected;
  for (const auto& c : dialog_template::kControls) {
    if (c.kind == dialog_template::control_kind::tree ||
        c.kind == dialog_template::control_kind::push_button ||
        c.kind == dialog_template::control_kind::edit)
      expected.push_back(c.id);
  }
  QWidget* w = dialog_template::find(&dialog, 1000);
  for (size_t i = 1; i < expected.size(); ++i) {
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || w->parentWidget() != &dialog);
    QCOMPARE(w->objectName(), dialog_template::object_name(expected[i]));
  }
}

void DialogTest::PlacesControlsInDialogUnitsWithFrameBeneath() {
  MainDialog& dialog = open_dialog();
  const auto units = dialog_template::units_of(dialog.font());
  QVERIFY(units.x > 0 && units.y > 0);
  auto px = [&](int dlu) { return qRound(dlu * units.x / 4.0); };
  auto py = [&](int dlu) { return qRound(dlu * units.y / 8.0); };
  QCOMPARE(dialog_template::find(&dialog, 1012)->geometry(),
           QRect(px(497), py(223), px(94), py(27)));
  QCOMPARE(dialog.size(), QSize(px(606), py(300)));
  // Resizing the frame leaves every control where it was.
  const QRect tree_place = dialog_template::find(&dialog, 1000)->geometry();
  dialog.resize(dialog.size() + QSize(200, 100));
  QCOMPARE(dialog_template::find(&dialog, 1000)->geometry(), tree_place);

  // The frame covers every control, yet clicks inside them reach them, not the frame.
  QTreeView* tree = tree_of(&dialog);
  QCOMPARE(dialog.childAt(tree->geometry().center()), tree->viewport());
  QWidget* button = dialog_template::find(&dialog, 1007);
  QCOMPARE(dialog.childAt(button->geometry().center()), button);
}

void DialogTest::StartLoadsDefaultDatabase() {
  write_album(file("album"), 4);
  std::string album = file("album");
  QCOMPARE(add_directory(album.data(), keep_going, nullptr), 4);
  QCOMPARE(file_closedb(), 1);
  tables::clear();

  MainDialog& dialog = open_dialog();
  expect_pairs_listed(&dialog, 2);
}

void DialogTest::CreateAsksThenCreatesOrReportsEachFailure() {
  MainDialog& dialog = open_dialog();

  // Cancelled: the first text stays, nothing else changes.
  expect_cancelled(&dialog, 1002, {"save", "Varnelo 1.0 - Create DB", "DataBases", kDatabaseFilter},
                   QStringLiteral("Creating Database...(Selecting Filename)"));
  QCOMPARE(file_getdbname(), "default.mp3db");
  QVERIFY(prompts::take_boxes().isEmpty());

  // Chosen: an empty database file under the new name, listed at once.
  write_song(file("a.mp3"), 1);
  QCOMPARE(file_add(file("a.mp3").c_str()), 1);
  const std::string fresh = file("fresh.mp3db");
  choose_and_press(&dialog, fresh, 1002);
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Creating Database...(New Database Ready)"));
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(file_getfilenum(), 0u);
  QCOMPARE(testing_support::read_file(fresh).size(), size_t{16});
  QCOMPARE(qobject_cast<QGroupBox*>(dialog_template::find(&dialog, 1001))->title(),
           QStringLiteral("Database: ") + QString::fromStdString(fresh));

  // A folder that does not exist: the create and the open fail, each with its box, and the
  // command still goes on to its last step.
  choose_and_press(&dialog, file("missing/x.mp3db"), 1002);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo Error: error creating db",
                                               "Varnelo Error: error opening db"}));
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Creating Database...(New Database Ready)"));
}

void DialogTest::OpenReadsChosenDatabaseWithoutBoxes() {
  write_album(file("album"), 6);
  std::string album = file("album");
  QCOMPARE(file_setdb(file("other.mp3db").c_str()), 1);
  QCOMPARE(add_directory(album.data(), keep_going, nullptr), 6);
  QCOMPARE(file_closedb(), 1);
  tables::clear();

  MainDialog& dialog = open_dialog();
  expect_cancelled(&dialog, 1003, {"open", "", "DataBases", kDatabaseFilter},
                   QStringLiteral("Opening Database...(Selecting Filename)"));

  choose_and_press(&dialog, file("other.mp3db"), 1003);
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Opening Database...(Opening Complete)"));
  expect_pairs_listed(&dialog, 3);

  // A file that is no database: no box, and the view shows what the store holds.
  testing_support::write_file(file("junk.mp3db"), std::string("not a database at all"));
  choose_and_press(&dialog, file("junk.mp3db"), 1003);
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Opening Database...(Opening Complete)"));
  expect_listed(&dialog, 0, 0);
}

void DialogTest::SaveWritesReloadsOrTellsItFailed() {
  MainDialog& dialog = open_dialog();
  press(&dialog, 1004);
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Saving Database...(Writing Successful)"));
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  QCOMPARE(testing_support::read_file(file("default.mp3db")).size(), size_t{16});

  // The reload keeps the table order, so ticks and tags stay valid without a rebuild.
  write_song(file("a.mp3"), 7, "one");
  write_song(file("b.mp3"), 7, "two");
  QCOMPARE(file_add(file("a.mp3").c_str()), 1);
  QCOMPARE(file_add(file("b.mp3").c_str()), 1);
  press(&dialog, 1005);
  model_of(&dialog)->setData(model_of(&dialog)->index(1, 0, model_of(&dialog)->index(0, 0)),
                             Qt::Checked, Qt::CheckStateRole);
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
  QCOMPARE(file_getfilenum(), 2u);
  press(&dialog, 1012);
  QVERIFY(exists(file("a.mp3")));
  QVERIFY(!exists(file("b.mp3")));

  // A database whose folder vanished: the failure is told, not followed by a reload or a
  // word of success, and the entries stay.
  QCOMPARE(file_setdb(file("gone/x.mp3db").c_str()), 1);
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo Error: error closing db"}));
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Saving Database...(Writing Failed)"));
  QCOMPARE(file_getfilenum(), 1u);
}

void DialogTest::CleanDropsVanishedFiles() {
  MainDialog& dialog = open_dialog();
  write_song(file("a.mp3"), 3, "a");
  write_song(file("b.mp3"), 3, "b");
  QCOMPARE(file_add(file("a.mp3").c_str()), 1);
  QCOMPARE(file_add(file("b.mp3").c_str()), 1);
  QCOMPARE(unlink(file("a.mp3").c_str()), 0);
  press(&dialog, 1005);
  QCOMPARE(text_of(&dialog, 1009),
           QStringLiteral("Cleaning DB from deleted/missing files...(Cleaning Completed)"));
  expect_listed(&dialog, 1, 0);
  QVERIFY(prompts::take_boxes().isEmpty());
}

void DialogTest::AddFileTakesChosenFile() {
  MainDialog& dialog = open_dialog();
  expect_cancelled(
      &dialog, 1007,
      {"open", "Varnelo 1.0 - Add Mp3-file to DB", "", "Mp3 Files (*.mp3);;All Files (*)"},
      QStringLiteral("Adding Mp3-File...(Selecting File)"));
  QCOMPARE(file_getfilenum(), 0u);

  for (const char* name : {"a.mp3", "b.mp3"}) {
    write_song(file(name), 5, name);
    choose_and_press(&dialog, file(name), 1007);
    QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Adding Mp3-File...(Reading Completed)"));
  }
  // The same file again is passed over without a word.
  choose_and_press(&dialog, file("a.mp3"), 1007);
  QVERIFY(prompts::take_boxes().isEmpty());
  expect_pairs_listed(&dialog, 1);
}

void DialogTest::ScanListsDuplicatesOrStopsWhenChooserCancelled() {
  MainDialog& dialog = open_dialog();
  expect_cancelled(&dialog, 1006, {"folder", "Select a folder", "", ""},
                   QStringLiteral("Adding Directory...(Aborted)"));

  write_album(file("album/disc"), 6);
  choose_and_press(&dialog, file("album"), 1006);
  QCOMPARE(text_of(&dialog, 1009),
           QStringLiteral("Adding Directory...(Adding Directory Completed)"));
  expect_pairs_listed(&dialog, 3);
  QVERIFY(tree_of(&dialog)->isExpanded(model_of(&dialog)->index(2, 0)));
}

void DialogTest::OkAndIdleAbortChangeNothing() {
  MainDialog& dialog = open_dialog();
  const QString lines[] = {text_of(&dialog, 1009), text_of(&dialog, 1010),
                           text_of(&dialog, 1011)};
  QCOMPARE(DialogFunc(&session(), kCommand, 1), 0);  // OK, as sent by Enter
  QTest::keyClicks(dialog_template::find(&dialog, 1020), "some words");
  QTest::keyClick(dialog_template::find(&dialog, 1020), Qt::Key_Return);
  // Abort while nothing runs: nothing, no text.
  press(&dialog, 1013);
  QCOMPARE(text_of(&dialog, 1009), lines[0]);
  QCOMPARE(text_of(&dialog, 1010), lines[1]);
  QCOMPARE(text_of(&dialog, 1011), lines[2]);
  QVERIFY(prompts::take_requests().isEmpty());
  QVERIFY(prompts::take_boxes().isEmpty());
  QVERIFY(dialog.isVisible());
}

void DialogTest::ProgressCallbackWritesLinesAndAnswersAbort() {
  MainDialog& dialog = open_dialog();
  QCOMPARE(MyChangeCb(3, 2, "x.mp3", "/music/a", &session()), 0);  // nothing runs: stop
  QCOMPARE(text_of(&dialog, 1010), QStringLiteral("3 Files added to DB! Last added File:x.mp3."));
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Level:2 (1=Top). Actual Directory Name:/music/a."));
  MyChangeCb(4, -1, "", "/music/a", &session());
  QCOMPARE(text_of(&dialog, 1010), QStringLiteral("4 Files added to DB!"));
  QCOMPARE(text_of(&dialog, 1011), QString());
}

void DialogTest::WalkRefusesGuardedCommandsAndCloseButRunsClean() {
  write_album(file("album"), 20);
  MainDialog& dialog = open_dialog();
  QVERIFY(scan_running(&dialog, file("album"), [&] {
    prompts::take_requests();
    const QString walking = text_of(&dialog, 1009);
    QCOMPARE(walking, QStringLiteral("Adding Directory...(Recursively Walking Directory Structure)"));
    // Every guarded button and the close box are refused without a trace.
    for (int id : {1002, 1003, 1004, 1006, 1007, 1012}) {
      choose_and_press(&dialog, "/nonexistent", id);
      QCOMPARE(text_of(&dialog, 1009), walking);
      QVERIFY(prompts::take_requests().isEmpty());
    }
    dialog.close();
    QVERIFY(dialog.isVisible());
    QVERIFY(!exists(file("default.mp3db")));
    // Cleaning runs at once, nested in the walk.
    press(&dialog, 1005);
    QCOMPARE(text_of(&dialog, 1009),
             QStringLiteral("Cleaning DB from deleted/missing files...(Cleaning Completed)"));
  }));
  QCOMPARE(text_of(&dialog, 1009),
           QStringLiteral("Adding Directory...(Adding Directory Completed)"));
  expect_pairs_listed(&dialog, 10);
  QVERIFY(prompts::take_boxes().isEmpty());
  QVERIFY(dialog.isVisible());
}

void DialogTest::AbortStopsWalkMidway() {
  write_album(file("album"), 40);
  MainDialog& dialog = open_dialog();
  QVERIFY(scan_running(&dialog, file("album"), [&] {
    press(&dialog, 1013);
    QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Aborting actual action..."));
  }));
  QVERIFY2(file_getfilenum() < 40u, qPrintable(QString::number(file_getfilenum())));
  QCOMPARE(text_of(&dialog, 1009),
           QStringLiteral("Adding Directory...(Adding Directory Completed)"));
  // Idle again: guarded commands are taken.
  press(&dialog, 1004);
  QCOMPARE(prompts::take_boxes(), QStringList({"Varnelo: Saved db successfully"}));
}

void DialogTest::CloseAfterAbortWaitsForWalkThenSaves() {
  write_album(file("album"), 40);
  MainDialog& dialog = open_dialog();
  QVERIFY(scan_running(&dialog, file("album"), [&] {
    press(&dialog, 1013);
    dialog.close();
    // Held back: nothing saved and the window still open while the walk winds down.
    QVERIFY(dialog.isVisible());
    QVERIFY(!exists(file("default.mp3db")));
  }));
  QVERIFY(dialog.ended());
  QVERIFY(!dialog.isVisible());
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Exiting varnelo...(Good Bye :-))"));
  // What was saved is everything the walk added, as the listing after it counted.
  const QString listed = text_of(&dialog, 1011);
  tables::clear();
  QCOMPARE(file_setdb("default.mp3db"), 1);
  QCOMPARE(file_opendb(), 1);
  QVERIFY(file_getfilenum() < 40u);
  QCOMPARE(listed, QStringLiteral("Files in DB : %1 Mp3s ,Size of all Mp3s together : 0 MB")
                       .arg(file_getfilenum()));
}

void DialogTest::EscapeEndsWithoutSavingEvenDuringWalk() {
  {
    MainDialog& dialog = open_dialog();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.ended());
    QCOMPARE(dialog.result(), 0);
    QVERIFY(!exists(file("default.mp3db")));
  }
  write_album(file("album"), 40);
  MainDialog& dialog = open_dialog();
  QVERIFY(scan_running(&dialog, file("album"), [&] {
    // The walk has added files that are not saved: the user is asked, and discards them.
    prompts::set_next_answer(prompts::answer::discard);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.ended());
  }));
  QVERIFY(!dialog.isVisible());
  QVERIFY(!exists(file("default.mp3db")));
  QCOMPARE(prompts::take_questions().size(), 1);
  // Nothing of the walk would be saved, so it stopped rather than ran on unseen.
  QVERIFY(file_getfilenum() < 40u);
}

void DialogTest::CloseSavesAndEnds() {
  write_song(file("a.mp3"), 9);
  MainDialog& dialog = open_dialog();
  choose_and_press(&dialog, file("a.mp3"), 1007);
  dialog.close();
  QVERIFY(dialog.ended());
  QVERIFY(!dialog.isVisible());
  QCOMPARE(text_of(&dialog, 1009), QStringLiteral("Exiting varnelo...(Good Bye :-))"));
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(file_setdb("default.mp3db"), 1);
  QCOMPARE(file_opendb(), 1);
  QCOMPARE(file_getfilenum(), 1u);

  // A save that fails is told, the entries go to a recovery file in the user's state
  // folder (nothing can be written beside the database), and the window ends anyway.
  ui_test::fresh_folder second;
  MainDialog again;
  DialogSession again_session(&again);
  again.show();
  QCOMPARE(file_add(file("a.mp3").c_str()), 1);
  QCOMPARE(file_setdb(second.file("gone/x.mp3db").c_str()), 1);
  again.close();
  const std::string recovered = second.file("state/varnelo/x.recovered.mp3db");
  QCOMPARE(prompts::take_boxes(),
           QStringList({"Varnelo Error: error closing db",
                        QStringLiteral("Varnelo Error: The database %1 could not be saved. Its 1 "
                                       "entries were written to %2: open that file with Open DB, "
                                       "or rename it to %1.")
                            .arg(QString::fromStdString(second.file("gone/x.mp3db")),
                                 QString::fromStdString(recovered))}));
  QVERIFY(again.ended());
  uint32_t files = 0;
  QCOMPARE(file_readheader(recovered.c_str(), nullptr, &files, nullptr), 1);
  QCOMPARE(files, 1u);
}

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
