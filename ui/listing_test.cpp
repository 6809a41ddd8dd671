// The tree's three listings and its tag columns, driven through the dialog's buttons: the
// title search (also stopped midway, with the window alive), switching listings with ticks
// kept, and the tags of copies side by side, read only for the rows asked about.
#include <QFont>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include "tests/support/table_entries.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/tag_columns.h"
#include "ui/ui_test_support.h"

using ui_test::press;
using ui_test::text_of;
using ui_test::write_song;

namespace {

void add(const std::string& path) { QVERIFY2(file_add(path.c_str()) == 1, path.c_str()); }

QModelIndex at(QWidget* dialog, int row, int column = 0, int group = -1) {
  DuplicatesModel* model = model_of(dialog);
  const QModelIndex parent = group < 0 ? QModelIndex() : model->index(group, 0);
  return model->index(row, column, parent);
}

void type_words(QWidget* dialog, const QString& words) {
  auto* edit = qobject_cast<QLineEdit*>(dialog_template::find(dialog, kSearchWords));
  edit->setText(words);
}

// Entries for files that do not exist: the search and the views walk them as any others.
void add_entries(uint32_t files) {
  unsigned char digest[16] = {0x42};
  tables::append_hash(digest);
  for (uint32_t k = 0; k < files; ++k)
    testing_support::append_entry(0, 1000, "/nowhere/entry" + std::to_string(k) + ".mp3");
}

}  // namespace

class ListingTest : public QObject {
  Q_OBJECT

 private slots:
  void SearchAndViewsSwitchListingsKeepingTicks();
  void SearchStopsOnAbortWhileTheWindowStaysAlive();
  void TagColumnsShowCopiesSideBySideAndMarkWhatDiffers();
  void TagsAreReadForTheRowsShownOnly();
};

void ListingTest::SearchAndViewsSwitchListingsKeepingTicks() {
  ui_test::fresh_folder folder;
  testing_support::make_dirs(folder.file("album"));
  for (int i = 0; i < 6; ++i)
    write_song(folder.file("album/song0" + std::to_string(i) + ".mp3"), i / 2,
               "take " + std::to_string(i));
  for (int i = 0; i < 6; ++i) add(folder.file("album/song0" + std::to_string(i) + ".mp3"));
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  DuplicatesModel* model = model_of(&dialog);
  QCOMPARE(model->rowCount(), 3);

  // Words found in an ID3v1 title only, as the library's search finds them.
  type_words(&dialog, QStringLiteral("TAKE*3"));
  press(&dialog, kSearch);
  QCOMPARE(text_of(&dialog, kLowerLine), QStringLiteral("Searching Database...(Search Completed)"));
  QCOMPARE(text_of(&dialog, kMiddleLine), QStringLiteral("1 Mp3s found"));
  QCOMPARE(model->kind(), listing_kind::found_files);
  QCOMPARE(model->rowCount(), 1);
  QVERIFY(!model->hasChildren(at(&dialog, 0)));
  QVERIFY(at(&dialog, 0).data().toString().endsWith(QStringLiteral("song03.mp3 ")));

  // Every file, flat, with the label of the duplicates view; a tick there is the file's.
  press(&dialog, kViewAll);
  QCOMPARE(text_of(&dialog, kLowerLine), QStringLiteral("Listing Database...(All Mp3s)"));
  QCOMPARE(text_of(&dialog, kMiddleLine), QStringLiteral("6 Mp3s in DB"));
  QCOMPARE(model->rowCount(), 6);
  QVERIFY(model->setData(at(&dialog, 5), Qt::Checked, Qt::CheckStateRole));
  press(&dialog, kViewDuplicates);
  QCOMPARE(model->rowCount(), 3);
  QVERIFY(tree_of(&dialog)->isExpanded(at(&dialog, 2)));
  QCOMPARE(at(&dialog, 1, 0, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  QCOMPARE(text_of(&dialog, kMiddleLine),
           QStringLiteral("found 3 duplicates in DB! Which take 0 MB of space."));

  // The results stay for "View Search Results" and follow their files through a table change
  // (a rebuild clears the ticks, as it always did).
  QCOMPARE(unlink(folder.file("album/song01.mp3").c_str()), 0);
  press(&dialog, kCleanDb);
  QCOMPARE(file_getfilenum(), 5u);
  press(&dialog, kViewSearchResults);
  QCOMPARE(model->kind(), listing_kind::found_files);
  QCOMPARE(model->rowCount(), 1);
  QVERIFY(at(&dialog, 0).data().toString().endsWith(QStringLiteral("song03.mp3 ")));
  QVERIFY(model->ticked_files().empty());
  // The listing shown stays through a rebuild.
  press(&dialog, kViewAll);
  press(&dialog, kCleanDb);
  QCOMPARE(model->kind(), listing_kind::all_files);
  QCOMPARE(model->rowCount(), 5);
}

void ListingTest::SearchStopsOnAbortWhileTheWindowStaysAlive() {
  ui_test::fresh_folder folder;
  FILE* quiet = fopen("/dev/null", "w");
  mp3db_set_diagnostics(quiet);  // the search tells each title it reads
  add_entries(300000);
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  type_words(&dialog, QString());  // no words: every entry matches, one per step
  bool ran = false;
  QTimer::singleShot(0, [&] {
    ran = true;
    // While the search reads the table nothing may change it: guarded buttons, Update/Clean
    // and the close are refused or held.
    const QString searching = text_of(&dialog, kLowerLine);
    QCOMPARE(searching, QStringLiteral("Searching Database...(Reading Paths and Titles)"));
    for (int id : {kSaveDb, kAddFile, kViewAll, kCleanDb}) press(&dialog, id);
    QCOMPARE(text_of(&dialog, kLowerLine), searching);
    QCOMPARE(file_getfilenum(), 300000u);
    press(&dialog, kAbort);
    QCOMPARE(text_of(&dialog, kLowerLine), QStringLiteral("Aborting actual action..."));
  });
  press(&dialog, kSearch);
  mp3db_set_diagnostics(nullptr);
  fclose(quiet);
  QVERIFY(ran);
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(text_of(&dialog, kLowerLine), QStringLiteral("Searching Database...(Search Stopped)"));
  const int found = model_of(&dialog)->rowCount();
  QVERIFY2(found > 0 && found < 300000, qPrintable(QString::number(found)));
  QCOMPARE(text_of(&dialog, kMiddleLine), QStringLiteral("%1 Mp3s found").arg(found));
  press(&dialog, kViewAll);  // idle again
  QCOMPARE(model_of(&dialog)->rowCount(), 300000);
}

void ListingTest::TagColumnsShowCopiesSideBySideAndMarkWhatDiffers() {
  ui_test::fresh_folder folder;
  // One recording under three tags (two agree), and a pair that disagrees.
  write_song(folder.file("a.mp3"), 1, "Night Drive");
  write_song(folder.file("b.mp3"), 1, "Night Drive");
  write_song(folder.file("c.mp3"), 1, "Night Drive (2009)");
  write_song(folder.file("d.mp3"), 2, "Blue Hour");
  write_song(folder.file("e.mp3"), 2, "");
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"}) add(folder.file(name));
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  DuplicatesModel* model = model_of(&dialog);
  QCOMPARE(model->columnCount(), int(kColumnCount));
  QVERIFY(!tree_of(&dialog)->isHeaderHidden());
  QCOMPARE(model->headerData(kTitleColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
           QStringLiteral("Title"));

  // The label column is unchanged; the group item has no tags.
  QVERIFY(at(&dialog, 0, kLabelColumn, 0).data().toString().startsWith(QStringLiteral("Filesize:")));
  QCOMPARE(at(&dialog, 0, kTitleColumn).data().toString(), QString());
  QCOMPARE(at(&dialog, 2, kTitleColumn, 0).data().toString(), QStringLiteral("Night Drive (2009)"));
  QCOMPARE(at(&dialog, 0, kTagKindsColumn, 0).data().toString(), QStringLiteral("ID3v2.3+v1"));
  QCOMPARE(at(&dialog, 1, kTagKindsColumn, 1).data().toString(), QString());
  QVERIFY(!at(&dialog, 0, kModifiedColumn, 0).data().toString().isEmpty());

  auto bold = [&](int row, int column, int group) {
    const QVariant font = at(&dialog, row, column, group).data(Qt::FontRole);
    return font.isValid() && font.value<QFont>().bold();
  };
  // The odd one out stands out, with a tip naming what the others hold; the two that agree
  // do not. A pair that disagrees has no majority: both stand out.
  QVERIFY(!bold(0, kTitleColumn, 0) && !bold(1, kTitleColumn, 0) && bold(2, kTitleColumn, 0));
  QVERIFY(at(&dialog, 2, kTitleColumn, 0)
              .data(Qt::ToolTipRole)
              .toString()
              .contains(QStringLiteral("\"Night Drive\" in other copies")));
  QVERIFY(bold(0, kTitleColumn, 1) && bold(1, kTitleColumn, 1));
  QVERIFY(bold(0, kTagKindsColumn, 1) && !bold(0, kTagKindsColumn, 0));
  QVERIFY(!bold(0, kModifiedColumn, 1));  // times always differ; they are not compared
  QVERIFY(!bold(0, kLabelColumn, 0));
}

void ListingTest::TagsAreReadForTheRowsShownOnly() {
  ui_test::fresh_folder folder;
  add_entries(50000);
  MainDialog dialog;
  DialogSession session(&dialog);
  dialog.show();
  press(&dialog, kViewAll);
  QTreeView* tree = tree_of(&dialog);
  const uint64_t before = model_of(&dialog)->tags().reads();
  tree->viewport()->repaint();
  tree->scrollTo(at(&dialog, 40000));
  tree->viewport()->repaint();
  const uint64_t reads = model_of(&dialog)->tags().reads() - before;
  // Two screens of rows at most, out of fifty thousand.
  const int rows_on_screen = tree->viewport()->height() / tree->sizeHintForRow(0) + 2;
  QVERIFY2(reads > 0 && reads <= static_cast<uint64_t>(2 * rows_on_screen),
           qPrintable(QString::number(reads)));
}

QTEST_MAIN(ListingTest)
#include "listing_test.moc"
