// The tree's context menu and shortcuts: ticking all but the keeper by each rule, every copy
// under a folder, none, the opposite in a group; protected folders (greyed, never ticked,
// kept between runs); playing, showing and copying a copy; the trash setting.
#include <fcntl.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QMenu>
#include <QTreeView>
#include <QUrl>

#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/tree_menu.h"
#include "ui/ui_test_support.h"
#include "ui/window_settings.h"

using ui_test::press;
using ui_test::text_of;
using ui_test::write_song;

namespace {

void set_mtime(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  QCOMPARE(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Triggers the menu action named name of the menu opened on item at.
void choose(DialogSession& s, const QModelIndex& at, const char* name) {
  std::unique_ptr<QMenu> menu = tree_menu(s, at);
  auto* action = menu->findChild<QAction*>(QString::fromLatin1(name));
  QVERIFY2(action != nullptr, name);
  QVERIFY2(action->isEnabled(), name);
  action->trigger();
}

QModelIndex copy_item(QWidget* dialog, int group, int row) {
  return model_of(dialog)->index(row, 0, model_of(dialog)->index(group, 0));
}

// Two groups: {short/a, long/folder/a, mid/a} and {short/b, long/folder/b}, added in that
// order, with the long copies newest.
void write_library(const ui_test::fresh_folder& folder) {
  for (const char* dir : {"short", "long/folder", "middle"}) testing_support::make_dirs(folder.file(dir));
  write_song(folder.file("short/a.mp3"), 1, "a short");
  write_song(folder.file("long/folder/a.mp3"), 1, "a long");
  write_song(folder.file("middle/a.mp3"), 1, "a middle");
  write_song(folder.file("short/b.mp3"), 2, "b short");
  write_song(folder.file("long/folder/b.mp3"), 2, "b long");
  for (const char* name : {"short/a.mp3", "long/folder/a.mp3", "middle/a.mp3", "short/b.mp3",
                           "long/folder/b.mp3"}) {
    set_mtime(folder.file(name), std::string(name).find("long") != std::string::npos ? 2000000 : 1000000);
    QCOMPARE(file_add(folder.file(name).c_str()), 1);
  }
}

}  // namespace

class TickMenuTest : public QObject, public ui_test::window_fixture {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void TicksAllButTheKeeperByEachRule();
  void TicksFolderUnticksAndInvertsFromMenuAndKeys();
  void ProtectedCopiesAreGreyedNeverTickedAndRemembered();
  void PlaysShowsAndCopiesTheCopy();

 private:
  // The paths of the ticked files, by name within the test folder.
  QStringList ticked_names(QWidget* dialog) const {
    QStringList names;
    for (uint32_t entry : model_of(dialog)->ticked_files())
      names << QString::fromStdString(db_getfileentry(entry)->filename)
                   .mid(static_cast<int>(folder().dir().path().size()) + 1);
    names.sort();
    return names;
  }
};

// Each test starts in a folder of its own with the library written and listed.
void TickMenuTest::init() {
  start();
  write_library(folder());
}

void TickMenuTest::cleanup() { finish(); }

void TickMenuTest::TicksAllButTheKeeperByEachRule() {
  MainDialog& dialog = open_dialog();
  const QModelIndex any = copy_item(&dialog, 0, 0);
  const struct {
    const char* action;
    QStringList ticked;
  } cases[] = {
      {"tick_rule_first", {"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}},
      {"tick_rule_shortest-path", {"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}},
      {"tick_rule_longest-path", {"middle/a.mp3", "short/a.mp3", "short/b.mp3"}},
      {"tick_rule_newest", {"middle/a.mp3", "short/a.mp3", "short/b.mp3"}},
      {"tick_rule_oldest", {"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}},
  };
  for (const auto& c : cases) {
    choose(session(), any, c.action);
    QVERIFY2(ticked_names(&dialog) == c.ticked,
             qPrintable(QStringLiteral("%1: %2").arg(c.action, ticked_names(&dialog).join(' '))));
  }
  QVERIFY(text_of(&dialog, kLowerLine).startsWith(QStringLiteral("Ticking Copies...(3 ticked")));
  // The last rule chosen is the current one, for Ctrl+K and "Delete all duplicate files".
  QCOMPARE(window_settings::keep_rule().kind, cleanup::keep_rule_kind::oldest);
  QTest::keyClick(tree_of(&dialog), Qt::Key_U, Qt::ControlModifier);
  QVERIFY(model_of(&dialog)->ticked_files().empty());
  QTest::keyClick(tree_of(&dialog), Qt::Key_K, Qt::ControlModifier);
  QCOMPARE(ticked_names(&dialog),
           QStringList({"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}));

  // Keep in a folder: the group without a copy there stays unticked, and says so.
  prompts::set_next_file_name(QString::fromStdString(file("middle")));
  choose(session(), any, "tick_rule_keep-in");
  QCOMPARE(ticked_names(&dialog), QStringList({"long/folder/a.mp3", "short/a.mp3"}));
  QVERIFY(text_of(&dialog, kLowerLine).contains(QStringLiteral("1 groups have no copy there")));
  // A folder that holds no listed file is refused, not guessed around.
  testing_support::make_dirs(file("empty"));
  prompts::set_next_file_name(QString::fromStdString(file("empty")));
  choose(session(), any, "tick_rule_keep-in");
  QCOMPARE(prompts::take_boxes().size(), 1);
  QCOMPARE(ticked_names(&dialog), QStringList({"long/folder/a.mp3", "short/a.mp3"}));
  QCOMPARE(window_settings::keep_rule().kind, cleanup::keep_rule_kind::keep_in);
}

void TickMenuTest::TicksFolderUnticksAndInvertsFromMenuAndKeys() {
  MainDialog& dialog = open_dialog();
  // The folders of the clicked copy are offered, its own first.
  const QModelIndex long_a = copy_item(&dialog, 0, 1);
  std::unique_ptr<QMenu> menu = tree_menu(session(), long_a);
  QCOMPARE(menu->findChild<QAction*>(QStringLiteral("tick_folder_0"))->text(),
           QString::fromStdString(file("long/folder")));
  QCOMPARE(menu->findChild<QAction*>(QStringLiteral("tick_folder_1"))->text(),
           QString::fromStdString(file("long")));
  choose(session(), long_a, "tick_folder_1");
  QCOMPARE(ticked_names(&dialog), QStringList({"long/folder/a.mp3", "long/folder/b.mp3"}));

  // Ctrl+I inverts the current copy's group; the menu does it for a group item too.
  tree_of(&dialog)->setCurrentIndex(long_a);
  QTest::keyClick(tree_of(&dialog), Qt::Key_I, Qt::ControlModifier);
  QCOMPARE(ticked_names(&dialog),
           QStringList({"long/folder/b.mp3", "middle/a.mp3", "short/a.mp3"}));
  choose(session(), model_of(&dialog)->index(1, 0), "invert_group");
  QCOMPARE(ticked_names(&dialog), QStringList({"middle/a.mp3", "short/a.mp3", "short/b.mp3"}));
  choose(session(), long_a, "untick_all");
  QVERIFY(model_of(&dialog)->ticked_files().empty());
  // No group to invert outside the duplicates listing.
  press(&dialog, kViewAll);
  QVERIFY(!tree_menu(session(), model_of(&dialog)->index(0, 0))
               ->findChild<QAction*>(QStringLiteral("invert_group"))
               ->isEnabled());
}

void TickMenuTest::ProtectedCopiesAreGreyedNeverTickedAndRemembered() {
  {
    MainDialog& dialog = open_dialog();
    const QModelIndex short_a = copy_item(&dialog, 0, 0);
    QVERIFY(model_of(&dialog)->setData(short_a, Qt::Checked, Qt::CheckStateRole));
    choose(session(), short_a, "protect_0");  // short/
    QCOMPARE(window_settings::protected_folders(),
             QStringList({QString::fromStdString(file("short"))}));
    // Unticked, greyed, without a box to tick, and refused when asked all the same.
    QCOMPARE(short_a.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(!(short_a.flags() & Qt::ItemIsUserCheckable));
    QVERIFY(short_a.data(Qt::ForegroundRole).value<QBrush>().color() != QColor(Qt::black));
    QVERIFY(short_a.data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("Protected")));
    QVERIFY(!model_of(&dialog)->setData(short_a, Qt::Checked, Qt::CheckStateRole));
    // A rule that would keep another copy keeps the protected one instead, and ticks neither
    // it nor, in the folder, anything else.
    choose(session(), short_a, "tick_rule_longest-path");
    QCOMPARE(ticked_names(&dialog),
             QStringList({"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}));
    choose(session(), short_a, "tick_folder_1");  // the test folder: everything but short/
    QCOMPARE(ticked_names(&dialog),
             QStringList({"long/folder/a.mp3", "long/folder/b.mp3", "middle/a.mp3"}));
  }
  // Kept between runs; removal spares the folder whatever the ticks say.
  MainDialog& dialog = open_dialog();
  QVERIFY(!(copy_item(&dialog, 0, 0).flags() & Qt::ItemIsUserCheckable));
  prompts::set_next_answer(prompts::answer::yes);
  press(&dialog, kDeleteAllDuplicates);
  QVERIFY(ui_test::exists(file("short/a.mp3")));
  QVERIFY(ui_test::exists(file("short/b.mp3")));
  QVERIFY(!ui_test::exists(file("middle/a.mp3")));
  QVERIFY(!ui_test::exists(file("long/folder/a.mp3")));
  press(&dialog, kViewAll);
  const QModelIndex short_a = model_of(&dialog)->index(0, 0);
  QVERIFY(!(short_a.flags() & Qt::ItemIsUserCheckable));
  choose(session(), short_a, "unprotect_0");
  QVERIFY(window_settings::protected_folders().isEmpty());
  QVERIFY(short_a.flags() & Qt::ItemIsUserCheckable);
}

void TickMenuTest::PlaysShowsAndCopiesTheCopy() {
  MainDialog& dialog = open_dialog();
  const QModelIndex mid_a = copy_item(&dialog, 0, 2);
  choose(session(), mid_a, "play");
  choose(session(), mid_a, "show_in_folder");
  QCOMPARE(
      prompts::take_opened(),
      QStringList({QUrl::fromLocalFile(QString::fromStdString(file("middle/a.mp3"))).toString(),
                   QUrl::fromLocalFile(QString::fromStdString(file("middle"))).toString()}));
  choose(session(), mid_a, "copy_path");
  QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(file("middle/a.mp3")));
  // The same from the keyboard on the current copy; a group item has no file to act on.
  tree_of(&dialog)->setCurrentIndex(copy_item(&dialog, 1, 0));
  QTest::keyClick(tree_of(&dialog), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(file("short/b.mp3")));
  QTest::keyClick(tree_of(&dialog), Qt::Key_P, Qt::ControlModifier);
  QCOMPARE(prompts::take_opened().size(), 1);
  QVERIFY(!tree_menu(session(), model_of(&dialog)->index(0, 0))
               ->findChild<QAction*>(QStringLiteral("play"))
               ->isEnabled());

  // The trash setting is a check of the menu, kept in the settings.
  std::unique_ptr<QMenu> menu = tree_menu(session(), mid_a);
  QAction* permanent = menu->findChild<QAction*>(QStringLiteral("permanent_deletion"));
  QVERIFY(!permanent->isChecked());
  permanent->trigger();
  QVERIFY(window_settings::permanent_deletion());
  QVERIFY(tree_menu(session(), mid_a)
              ->findChild<QAction*>(QStringLiteral("permanent_deletion"))
              ->isChecked());
}

QTEST_MAIN(TickMenuTest)
#include "tick_menu_test.moc"
