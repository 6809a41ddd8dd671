// "Move Files into a directory" on real disks: entries follow their files, a name already
// there and a protected folder keep their files where they are, a second file system gets a
// verified copy, and no ticks or a cancelled chooser change nothing.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/tick_commands.h"
#include "ui/ui_test_support.h"

using ui_test::exists;
using ui_test::press;
using ui_test::text_of;
using ui_test::write_song;

namespace {

void tick(QWidget* dialog, const std::string& path) {
  const int32_t file = get_fileentrybyfilename(path.c_str());
  QVERIFY2(file >= 0 && model_of(dialog)->set_file_ticked(static_cast<uint32_t>(file), true),
           path.c_str());
}

bool listed(const std::string& path) { return get_fileentrybyfilename(path.c_str()) >= 0; }

}  // namespace

class MoveCommandTest : public QObject {
  Q_OBJECT

 private slots:
  void MovesTickedFilesAndTheirEntriesNeverOverAFile();
  void MovesAcrossFileSystemsByAVerifiedCopy();
  void NothingTickedOrNoFolderChosenChangesNothing();
};

void MoveCommandTest::MovesTickedFilesAndTheirEntriesNeverOverAFile() {
  ui_test::fresh_folder folder;
  for (const char* dir : {"a", "b", "keep", "to"}) testing_support::make_dirs(folder.file(dir));
  write_song(folder.file("a/one.mp3"), 1, "one");
  write_song(folder.file("b/two.mp3"), 2, "two");
  write_song(folder.file("b/taken.mp3"), 3, "taken");
  write_song(folder.file("keep/three.mp3"), 4, "three");
  write_song(folder.file("to/taken.mp3"), 5, "already there");
  for (const char* name : {"a/one.mp3", "b/two.mp3", "b/taken.mp3", "keep/three.mp3"})
    QCOMPARE(file_add(folder.file(name).c_str()), 1);
  ui_test::window w;
  commands::protect_folder(w.session, QString::fromStdString(folder.file("keep")));
  press(&w.dialog, kViewAll);
  for (const char* name : {"a/one.mp3", "b/two.mp3", "b/taken.mp3"}) tick(&w.dialog, folder.file(name));
  // A protected file cannot be ticked: protecting its folder unticks it.
  commands::unprotect_folder(w.session, QString::fromStdString(folder.file("keep")));
  tick(&w.dialog, folder.file("keep/three.mp3"));
  commands::protect_folder(w.session, QString::fromStdString(folder.file("keep")));
  QCOMPARE(model_of(&w.dialog)->ticked_files().size(), size_t{3});

  prompts::set_next_file_name(QString::fromStdString(folder.file("to")));
  press(&w.dialog, kMoveFiles);
  const auto requests = prompts::take_requests();
  QCOMPARE(requests.size(), 1);
  QCOMPARE(requests[0].kind, QStringLiteral("folder"));
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Moving Mp3-Files...(Moving Files Completed)"));
  QCOMPARE(text_of(&w.dialog, kMiddleLine),
           QStringLiteral("Moved 2 Mp3s into ") + QString::fromStdString(folder.file("to")));
  for (const char* name : {"one.mp3", "two.mp3"}) {
    QVERIFY(exists(folder.file(std::string("to/") + name)));
    QVERIFY(listed(folder.file(std::string("to/") + name)));
  }
  QVERIFY(!exists(folder.file("a/one.mp3")) && !listed(folder.file("a/one.mp3")));
  // The name taken in the folder, and the protected file, stay where they were.
  QVERIFY(exists(folder.file("b/taken.mp3")) && listed(folder.file("b/taken.mp3")));
  QCOMPARE(testing_support::read_file(folder.file("to/taken.mp3")).size() > 0, true);
  QVERIFY(!listed(folder.file("to/taken.mp3")));
  QVERIFY(exists(folder.file("keep/three.mp3")) && listed(folder.file("keep/three.mp3")));
  const QStringList boxes = prompts::take_boxes();
  QCOMPARE(boxes.size(), 1);
  QCOMPARE(boxes[0], QStringLiteral("Varnelo Warning: 1 ticked files were not moved:\n%1: a file "
                                     "named taken.mp3 is already in %2")
                         .arg(QString::fromStdString(folder.file("b/taken.mp3")),
                              QString::fromStdString(folder.file("to"))));
  QCOMPARE(file_getfilenum(), 4u);

  // The moved entries are saved with the database.
  QVERIFY(unsaved_changes(w.session));
  w.dialog.close();
  tables::clear();
  QCOMPARE(file_setdb("default.mp3db"), 1);
  QCOMPARE(file_opendb(), 1);
  QVERIFY(listed(folder.file("to/one.mp3")) && listed(folder.file("to/two.mp3")));
}

void MoveCommandTest::MovesAcrossFileSystemsByAVerifiedCopy() {
  ui_test::fresh_folder folder;
  char pattern[] = "/dev/shm/varnelo-move-XXXXXX";
  struct stat shm, here;
  if (mkdtemp(pattern) == nullptr) QSKIP("no tmpfs at /dev/shm for a second file system");
  const std::string other = pattern;
  if (stat(other.c_str(), &shm) != 0 || stat(folder.dir().path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev) {
    std::filesystem::remove_all(other);
    QSKIP("/dev/shm is no other file system here");
  }
  write_song(folder.file("song.mp3"), 6, "song", 300000);
  write_song(folder.file("copy.mp3"), 6, "copy", 300000);
  const auto bytes = testing_support::read_file(folder.file("song.mp3"));
  for (const char* name : {"song.mp3", "copy.mp3"}) QCOMPARE(file_add(folder.file(name).c_str()), 1);
  ui_test::window w;
  tick(&w.dialog, folder.file("song.mp3"));
  prompts::set_next_file_name(QString::fromStdString(other));
  press(&w.dialog, kMoveFiles);
  QVERIFY(prompts::take_boxes().isEmpty());
  QVERIFY(!exists(folder.file("song.mp3")));
  QCOMPARE(testing_support::read_file(other + "/song.mp3"), bytes);
  QVERIFY(listed(other + "/song.mp3"));
  // Still a copy of the group: the listing shows it in its new place.
  QCOMPARE(model_of(&w.dialog)->rowCount(), 1);
  std::filesystem::remove_all(other);
}

void MoveCommandTest::NothingTickedOrNoFolderChosenChangesNothing() {
  ui_test::fresh_folder folder;
  write_song(folder.file("a.mp3"), 1, "a");
  QCOMPARE(file_add(folder.file("a.mp3").c_str()), 1);
  ui_test::window w;
  press(&w.dialog, kMoveFiles);
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Moving Mp3-Files...(No Files Ticked)"));
  QVERIFY(prompts::take_requests().isEmpty());
  press(&w.dialog, kViewAll);
  tick(&w.dialog, folder.file("a.mp3"));
  prompts::set_next_file_name(QString());
  press(&w.dialog, kMoveFiles);
  QCOMPARE(text_of(&w.dialog, kLowerLine), QStringLiteral("Moving Mp3-Files...(Aborted)"));
  QVERIFY(exists(folder.file("a.mp3")) && listed(folder.file("a.mp3")));
  QVERIFY(!unsaved_changes(w.session));
}

QTEST_MAIN(MoveCommandTest)
#include "move_command_test.moc"
