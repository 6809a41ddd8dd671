// The duplicates view: its groups, labels and statistics against the per-digest accessors,
// and deleting ticked files, only those, and never the last copy of a song.
#include <sys/stat.h>

#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QStyle>
#include <QTreeView>

#include <random>

#include "tests/support/table_entries.h"
#include "ui/duplicates_listing.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/removal_commands.h"
#include "ui/dialog_session.h"
#include "ui/main_dialog.h"
#include "ui/ui_test_support.h"

using testing_support::append_entry;
using namespace ui_test;  // the shared pieces of the window's tests

namespace {

void add_hash(unsigned char first_byte) {
  unsigned char digest[16] = {first_byte};
  digest[15] = 0xee;
  tables::append_hash(digest);
}

QModelIndex item(QWidget* dialog, int group, int row = -1) {
  QModelIndex g = model_of(dialog)->index(group, 0);
  return row < 0 ? g : model_of(dialog)->index(row, 0, g);
}
QString label(QWidget* dialog, int group, int row = -1) {
  return item(dialog, group, row).data().toString();
}
void tick(QWidget* dialog, int group, int row = -1) {
  QVERIFY(model_of(dialog)->setData(item(dialog, group, row), Qt::Checked, Qt::CheckStateRole));
}

// Deletes the ticked files, of which the middle line says deleted went.
void delete_ticked(DialogSession& session, int deleted) {
  CheckTreeView(session);
  QCOMPARE(text_of(session.view, kMiddleLine), QStringLiteral("Deleted %1 Mp3s").arg(deleted));
}

// The listing computed the slow way, through the per-digest accessors and their cursor.
duplicate_listing list_by_accessors() {
  duplicate_listing out;
  uint32_t duplicates = 0, dup_mb = 0, total_mb = 0;
  const uint32_t n_hashes = file_gethashnum();
  out.grouped.hashnum = n_hashes;
  for (uint32_t i = 0; i < n_hashes; ++i) {
    const int32_t n = get_fileentriesnum(i);
    get_fileentries(-1);
    if (n >= 2) {
      cleanup::digest_group g{static_cast<int32_t>(i), {},
                              static_cast<uint32_t>(out.grouped.files.size()),
                              static_cast<uint32_t>(n)};
      memcpy(g.digest.data(), db_gethashentry(i), 16);
      out.grouped.groups.push_back(g);
      int j = 0;
      for (int32_t k; (k = get_fileentries(static_cast<int32_t>(i))) != -1;) {
        out.grouped.files.push_back(static_cast<uint32_t>(k));
        const uint32_t mb = whole_megabytes(db_getfileentry(k)->filesize);
        if (++j >= 2) {
          dup_mb += mb;
          ++duplicates;
        }
        total_mb += mb;
      }
      out.progress_upper = hash_progress_text(i, n_hashes);
    } else if (n == 1) {
      total_mb += whole_megabytes(db_getfileentry(get_fileentries(static_cast<int32_t>(i)))->filesize);
      get_fileentries(-1);
    }
  }
  out.duplicates = static_cast<int32_t>(duplicates);
  out.duplicate_mb = static_cast<int32_t>(dup_mb);
  out.total_mb = static_cast<int32_t>(total_mb);
  return out;
}

}  // namespace

class DuplicatesViewTest : public QObject, public ui_test::window_fixture {
  Q_OBJECT

 private slots:
  void init() { start(); }
  void cleanup() { finish(); }
  void ListsGroupsInDigestOrderWithExactLabels();
  void StatisticsCountWholeMegabytesOfLaterCopies();
  void ProgressLineGivesLastGroupsShareOfEntries();
  void GroupingMatchesPerDigestAccessors();
  void DeletesOnlyTickedFilesResolvedBeforeFirstRemoval();
  void TickedGroupsDeleteNothing();
  void SparesTickedFileThatIsAnUntickedCopyOnDisk();
  void SparesTickedFileWhoseContentChanged();
  void ChosenPathReplacedOnDiskTakesNothingElse();
  void TickedCopiesStayWhenNoUntickedCopyHoldsTheContent();
};

void DuplicatesViewTest::ListsGroupsInDigestOrderWithExactLabels() {
  MainDialog& dialog = open_dialog();
  // Hash 0: files 1 and 4; hash 1: file 0 alone; hash 2 (digest 00..0f): files 2, 3, 5.
  add_hash(0xab);
  add_hash(0x01);
  unsigned char counting[16];
  for (int b = 0; b < 16; ++b) counting[b] = static_cast<unsigned char>(b);
  tables::append_hash(counting);
  append_entry(1, 10, "/m/solo.mp3");
  append_entry(0, 3000000000u, "/m/big & <b>bold</b>.mp3");
  append_entry(2, 30, "/m/c1.mp3");
  append_entry(2, 31, "/m/c2.mp3");
  append_entry(0, 40, "/m/b2.mp3");
  append_entry(2, 32, "/m/c3.mp3");
  append_entry(9, 50, "/m/bad-hashid.mp3");
  append_entry(-1, 60, "/m/negative-hashid.mp3");
  UpdateTreeView(&dialog);

  QCOMPARE(model_of(&dialog)->rowCount(), 2);
  QCOMPARE(label(&dialog, 0),
           QStringLiteral("2 Files with Hash digest: ab0000000000000000000000000000ee"));
  QCOMPARE(label(&dialog, 1),
           QStringLiteral("3 Files with Hash digest: 000102030405060708090a0b0c0d0e0f"));
  QCOMPARE(label(&dialog, 0, 0),
           QStringLiteral("Filesize:-1294967296 - Filename: /m/big & <b>bold</b>.mp3 "));
  QCOMPARE(label(&dialog, 0, 1), QStringLiteral("Filesize:40 - Filename: /m/b2.mp3 "));
  QCOMPARE(label(&dialog, 1, 2), QStringLiteral("Filesize:32 - Filename: /m/c3.mp3 "));
  QCOMPARE(model_of(&dialog)->tag(item(&dialog, 0)), -1);
  QCOMPARE(model_of(&dialog)->tag(item(&dialog, 0, 1)), 4);
  QCOMPARE(model_of(&dialog)->tag(item(&dialog, 1, 0)), 2);
  QCOMPARE(model_of(&dialog)->rowCount(item(&dialog, 1)), 3);
  for (QModelIndex i : {item(&dialog, 0), item(&dialog, 1, 1)}) {
    QVERIFY(i.flags() & Qt::ItemIsUserCheckable);
    QCOMPARE(i.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  }
  QVERIFY(tree_of(&dialog)->isExpanded(item(&dialog, 0)));
  QVERIFY(tree_of(&dialog)->isExpanded(item(&dialog, 1)));
  QCOMPARE(qobject_cast<QGroupBox*>(dialog_template::find(&dialog, 1001))->title(),
           QStringLiteral("Database: default.mp3db"));
  // Files with a hashid outside the table are neither listed nor counted.
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Files in DB : 8 Mp3s ,Size of all Mp3s together : 2861 MB"));

  // A rebuild clears every tick.
  tick(&dialog, 0, 1);
  UpdateTreeView(&dialog);
  QCOMPARE(item(&dialog, 0, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
}

void DuplicatesViewTest::StatisticsCountWholeMegabytesOfLaterCopies() {
  MainDialog& dialog = open_dialog();
  QCOMPARE(text_of(&dialog, 1010),
           QStringLiteral("found 0 duplicates in DB! Which take 0 MB of space."));
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Files in DB : 0 Mp3s ,Size of all Mp3s together : 0 MB"));

  add_hash(1);
  append_entry(0, 3000000, "/a1");
  append_entry(0, 3100000, "/a2");
  append_entry(0, 2900000, "/a3");
  UpdateTreeView(&dialog);
  QCOMPARE(text_of(&dialog, 1010),
           QStringLiteral("found 2 duplicates in DB! Which take 4 MB of space."));
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Files in DB : 3 Mp3s ,Size of all Mp3s together : 6 MB"));

  // Megabytes are rounded down per file; single files count in the total only, and a digest
  // whose files are all gone counts nowhere.
  tables::clear();
  add_hash(1);
  add_hash(2);
  add_hash(3);
  append_entry(0, 1048575, "/b1");
  append_entry(0, 1572864, "/b2");
  append_entry(0, 1572864, "/b3");
  append_entry(1, 5 * 1048576, "/single");
  UpdateTreeView(&dialog);
  QCOMPARE(text_of(&dialog, 1010),
           QStringLiteral("found 2 duplicates in DB! Which take 2 MB of space."));
  QCOMPARE(text_of(&dialog, 1011),
           QStringLiteral("Files in DB : 4 Mp3s ,Size of all Mp3s together : 7 MB"));
}

void DuplicatesViewTest::ProgressLineGivesLastGroupsShareOfEntries() {
  for (int i = 0; i < 4; ++i) add_hash(static_cast<unsigned char>(i));
  append_entry(0, 1, "/solo");
  append_entry(3, 1, "/x");
  append_entry(3, 1, "/y");
  const duplicate_listing listing = list_duplicates();
  QCOMPARE(listing.progress_upper, std::string("Hash Entries: 3 of 4  75.000000 % finished"));
  QCOMPARE(listing.progress_middle, std::string("duplicates till now: 1"));
  QCOMPARE(hash_progress_text(1, 3), std::string("Hash Entries: 1 of 3  33.333334 % finished"));

  tables::clear();
  QVERIFY(list_duplicates().progress_upper.empty());
}

void DuplicatesViewTest::GroupingMatchesPerDigestAccessors() {
  std::mt19937 random(42);
  for (int i = 0; i < 300; ++i) add_hash(static_cast<unsigned char>(i));
  for (int k = 0; k < 2000; ++k) {
    int32_t hashid = static_cast<int32_t>(random() % 320) - 10;  // a few outside the table
    append_entry(hashid, static_cast<uint32_t>(random() % 8000000), "/f" + std::to_string(k));
  }
  const duplicate_listing fast = list_duplicates();
  const duplicate_listing slow = list_by_accessors();
  QCOMPARE(fast.grouped.groups.size(), slow.grouped.groups.size());
  for (size_t g = 0; g < fast.grouped.groups.size(); ++g) {
    QCOMPARE(fast.grouped.groups[g].hashid, slow.grouped.groups[g].hashid);
    QCOMPARE(fast.grouped.groups[g].count, slow.grouped.groups[g].count);
    QCOMPARE(fast.grouped.groups[g].first, slow.grouped.groups[g].first);
    QVERIFY(fast.grouped.groups[g].digest == slow.grouped.groups[g].digest);
  }
  QVERIFY(fast.grouped.files == slow.grouped.files);
  QCOMPARE(fast.duplicates, slow.duplicates);
  QCOMPARE(fast.duplicate_mb, slow.duplicate_mb);
  QCOMPARE(fast.total_mb, slow.total_mb);
  QCOMPARE(fast.progress_upper, slow.progress_upper);
}

void DuplicatesViewTest::DeletesOnlyTickedFilesResolvedBeforeFirstRemoval() {
  // Table order a0 b0 a1 b1 a2: deleting a0 moves a2, then b1, into freed slots, so tags
  // taken after the first removal would name other files.
  for (const char* name : {"a0", "b0", "a1", "b1", "a2"}) {
    write_song(file(name) + ".mp3", name[0] == 'a' ? 1 : 2, name);
    QCOMPARE(file_add((file(name) + ".mp3").c_str()), 1);
  }
  MainDialog& dialog = open_dialog();
  QCOMPARE(model_of(&dialog)->rowCount(), 2);
  QCOMPARE(label(&dialog, 1, 1),
           QStringLiteral("Filesize:%1 - Filename: %2 ")
               .arg(QFileInfo(QString::fromStdString(file("b1.mp3"))).size())
               .arg(QString::fromStdString(file("b1.mp3"))));

  // Tick a0 with a real click on its check box, then b1 and a2 through the model.
  QTreeView* tree = tree_of(&dialog);
  const QRect row = tree->visualRect(item(&dialog, 0, 0));
  const int box = tree->style()->pixelMetric(QStyle::PM_IndicatorWidth);
  const QPoint at(row.left() + tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1 +
                      box / 2,
                  row.center().y());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
  QCOMPARE(item(&dialog, 0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  tick(&dialog, 1, 1);
  tick(&dialog, 0, 2);

  press(&dialog, 1012);
  QCOMPARE(text_of(&dialog, 1009),
           QStringLiteral("Deleting Mp3-Files...(Deleting Files Completed) - in the trash, where "
                          "they can be restored"));
  QCOMPARE(text_of(&dialog, 1010), QStringLiteral("Deleted 3 Mp3s"));
  QVERIFY(!exists(file("a0.mp3")));
  QVERIFY(!exists(file("b1.mp3")));
  QVERIFY(!exists(file("a2.mp3")));
  QVERIFY(exists(file("a1.mp3")));
  QVERIFY(exists(file("b0.mp3")));
  expect_listed(&dialog, 2, 0);
}

void DuplicatesViewTest::TickedGroupsDeleteNothing() {
  add_songs(folder(), 4, {"x", "y", "gone"});
  QCOMPARE(unlink(file("gone").c_str()), 0);
  MainDialog& dialog = open_dialog();
  tick(&dialog, 0);
  delete_ticked(session(), 0);
  QVERIFY(exists(file("x")));
  QVERIFY(exists(file("y")));
  // Still cleaned and rebuilt: the vanished file's entry is gone.
  expect_listed(&dialog, 2, 1);
  QVERIFY(label(&dialog, 0).startsWith(QStringLiteral("2 Files with Hash digest: ")));
}

void DuplicatesViewTest::SparesTickedFileThatIsAnUntickedCopyOnDisk() {
  write_song(file("song.mp3"), 6, "song");
  QCOMPARE(link(file("song.mp3").c_str(), file("hard.mp3").c_str()), 0);
  QCOMPARE(symlink(file("song.mp3").c_str(), file("soft.mp3").c_str()), 0);
  write_song(file("copy.mp3"), 6, "copy");
  for (const char* name : {"song.mp3", "hard.mp3", "soft.mp3", "copy.mp3"})
    QCOMPARE(file_add(file(name).c_str()), 1);
  MainDialog& dialog = open_dialog();
  QCOMPARE(model_of(&dialog)->rowCount(item(&dialog, 0)), 4);

  // Ticking the hard link and the real copy while the original stays: the hard link shares
  // the original's inode, so deleting it would free nothing; the copy goes.
  tick(&dialog, 0, 1);
  tick(&dialog, 0, 3);
  delete_ticked(session(), 1);
  QVERIFY(exists(file("hard.mp3")));
  QVERIFY(!exists(file("copy.mp3")));

  // The original ticked while a link to it stays unticked: spared too.
  QCOMPARE(model_of(&dialog)->rowCount(item(&dialog, 0)), 3);
  tick(&dialog, 0, 0);
  tick(&dialog, 0, 1);
  delete_ticked(session(), 0);
  QVERIFY(exists(file("song.mp3")));
  QVERIFY(exists(file("hard.mp3")));
}

void DuplicatesViewTest::SparesTickedFileWhoseContentChanged() {
  add_songs(folder(), 8, {"keep.mp3", "edited.mp3", "copy.mp3"});
  MainDialog& dialog = open_dialog();
  tick(&dialog, 0, 1);
  tick(&dialog, 0, 2);
  // Re-recorded since it was added: no longer a copy of anything listed.
  write_song(file("edited.mp3"), 99, "edited");
  delete_ticked(session(), 1);
  QVERIFY(exists(file("edited.mp3")));
  QVERIFY(!exists(file("copy.mp3")));
  QVERIFY(exists(file("keep.mp3")));
}

void DuplicatesViewTest::ChosenPathReplacedOnDiskTakesNothingElse() {
  testing_support::make_dirs(file("elsewhere"));
  add_songs(folder(), 12, {"keep.mp3", "copy.mp3", "other.mp3"});
  MainDialog& dialog = open_dialog();
  tick(&dialog, 0, 1);
  tick(&dialog, 0, 2);
  // One chosen path becomes a link to a file outside the database, the other a folder.
  write_song(file("elsewhere/target.mp3"), 12, "target");
  QCOMPARE(unlink(file("copy.mp3").c_str()), 0);
  QCOMPARE(symlink(file("elsewhere/target.mp3").c_str(), file("copy.mp3").c_str()), 0);
  QCOMPARE(unlink(file("other.mp3").c_str()), 0);
  testing_support::make_dirs(file("other.mp3/inside"));
  delete_ticked(session(), 1);
  struct stat st;
  QVERIFY(lstat(file("copy.mp3").c_str(), &st) != 0);  // the link went, as a link
  QVERIFY(exists(file("elsewhere/target.mp3")));
  QVERIFY(exists(file("other.mp3/inside")));
  QVERIFY(exists(file("keep.mp3")));
}

void DuplicatesViewTest::TickedCopiesStayWhenNoUntickedCopyHoldsTheContent() {
  // Three groups {kept, ticked}: the unticked copy re-encoded, gone (an unmounted drive), or
  // intact. Only the last group's ticked copy may go, and it goes to the trash.
  for (uint32_t g = 0; g < 3; ++g) {
    const std::string group = "g" + std::to_string(g);
    add_songs(folder(), 20 + g, {group + "kept.mp3", group + "ticked.mp3"});
  }
  MainDialog& dialog = open_dialog();
  QCOMPARE(model_of(&dialog)->rowCount(), 3);
  for (int g = 0; g < 3; ++g) tick(&dialog, g, 1);
  write_song(file("g0kept.mp3"), 99, "kept");
  QCOMPARE(unlink(file("g1kept.mp3").c_str()), 0);
  delete_ticked(session(), 1);
  QVERIFY(exists(file("g0ticked.mp3")));
  QVERIFY(exists(file("g1ticked.mp3")));
  QVERIFY(!exists(file("g2ticked.mp3")));
  QVERIFY(exists(testing_support::use_own_trash() + "/files/g2ticked.mp3"));
}

QTEST_MAIN(DuplicatesViewTest)
#include "duplicates_view_test.moc"
