// Removing through the window for real: "Delete all duplicate files" with its one question,
// the question before a group would lose every copy, the trash (with what a desktop needs to
// restore from it) or permanent deletion, the files left in place told, and the abort button.
#include <sys/stat.h>

#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/removal_commands.h"
#include "ui/ui_test_support.h"
#include "ui/window_settings.h"

using ui_test::exists;
using ui_test::press;
using ui_test::text_of;
using ui_test::write_song;

namespace {

std::string in_trash(const std::string& name) {
  return testing_support::use_own_trash() + "/files/" + name;
}

std::string trash_info(const std::string& name) {
  std::ifstream in(testing_support::use_own_trash() + "/info/" + name + ".trashinfo");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t files_in_trash() {
  const std::string files = testing_support::use_own_trash() + "/files";
  if (!exists(files)) return 0;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(files),
                                           std::filesystem::directory_iterator()));
}

// Songs g<group>_<copy>.mp3 of audio_bytes each, copy 0 first in the table.
void write_groups(const ui_test::fresh_folder& folder, int groups, int copies,
                  size_t audio_bytes = 4096) {
  for (int g = 0; g < groups; ++g) {
    for (int c = 0; c < copies; ++c) {
      const std::string path = folder.file("g" + std::to_string(g) + "_" + std::to_string(c) + ".mp3");
      write_song(path, 100 + g, "copy " + std::to_string(c), audio_bytes);
      QCOMPARE(file_add(path.c_str()), 1);
    }
  }
}

void tick(QWidget* dialog, const ui_test::fresh_folder& folder, const std::string& name) {
  const int32_t file = get_fileentrybyfilename(folder.file(name).c_str());
  QVERIFY2(file >= 0 && model_of(dialog)->set_file_ticked(static_cast<uint32_t>(file), true),
           name.c_str());
}

}  // namespace

class RemovalCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void DeleteAllDuplicatesAsksOnceWithFilesAndMegabytes();
  void EveryCopyTickedIsAskedAndOneKeptUnlessConfirmed();
  void PermanentDeletionUnlinksAndSaysSo();
  void TickedFilesLeftInPlaceAreTold();
  void AbortStopsTheRemovalBetweenFiles();
};

void RemovalCommandsTest::DeleteAllDuplicatesAsksOnceWithFilesAndMegabytes() {
  ui_test::fresh_folder folder;
  write_groups(folder, 2, 3, 700000);
  ui_test::window w;
  // Declined: nothing removed, the copies that would go stay ticked for a look.
  prompts::set_next_answer(prompts::answer::no);
  press(&w.dialog, kDeleteAllDuplicates);
  const QStringList asked = prompts::take_questions();
  QCOMPARE(asked.size(), 1);
  QVERIFY2(asked[0].startsWith(QStringLiteral("Varnelo: Delete 4 duplicate files (3 MB)?")),
           qPrintable(asked[0]));
  QVERIFY(asked[0].contains(QStringLiteral("\"first\"")));
  QVERIFY(asked[0].endsWith(QStringLiteral("The files go to the trash.")));
  QCOMPARE(model_of(&w.dialog)->ticked_files().size(), size_t{4});
  QVERIFY(exists(folder.file("g0_1.mp3")));
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Deleting All Duplicates...(Cancelled: the copies stay ticked)"));

  prompts::set_next_answer(prompts::answer::yes);
  press(&w.dialog, kDeleteAllDuplicates);
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Deleting All Duplicates...(Deleting Files Completed) - in the trash, "
                          "where they can be restored"));
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted 4 Mp3s"));
  QCOMPARE(file_getfilenum(), 2u);
  for (const char* kept : {"g0_0.mp3", "g1_0.mp3"}) QVERIFY(exists(folder.file(kept)));
  // In the trash, with the record a desktop restores from.
  for (const char* gone : {"g0_1.mp3", "g0_2.mp3", "g1_1.mp3", "g1_2.mp3"}) {
    QVERIFY(!exists(folder.file(gone)));
    QVERIFY(exists(in_trash(gone)));
    QVERIFY(trash_info(gone).find("Path=" + folder.file(gone)) != std::string::npos);
  }
  QVERIFY(prompts::take_boxes().isEmpty());
  QCOMPARE(prompts::take_questions().size(), 1);
  // Nothing left to delete: said, not asked.
  press(&w.dialog, kDeleteAllDuplicates);
  QVERIFY(prompts::take_questions().isEmpty());
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Deleting All Duplicates...(No Duplicates to Delete)"));
}

void RemovalCommandsTest::EveryCopyTickedIsAskedAndOneKeptUnlessConfirmed() {
  ui_test::fresh_folder folder;
  write_groups(folder, 3, 2);
  write_song(folder.file("single.mp3"), 7, "alone");
  QCOMPARE(file_add(folder.file("single.mp3").c_str()), 1);
  ui_test::window w;
  // Group 0 whole, group 1 one copy, the single file (its only copy): two songs would go.
  for (const char* name : {"g0_0.mp3", "g0_1.mp3", "g1_1.mp3", "single.mp3"})
    tick(&w.dialog, folder, name);
  press(&w.dialog, kDeleteSelected);  // the default answer: keep one copy of each
  QCOMPARE(prompts::take_questions(),
           QStringList({"Varnelo Warning: Every copy of 2 songs is ticked: removing them would "
                        "leave nothing of those recordings. Keep one copy of each?"}));
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted 2 Mp3s"));
  QVERIFY(exists(folder.file("g0_0.mp3")));  // the first, as the keep rule says
  QVERIFY(!exists(folder.file("g0_1.mp3")));
  QVERIFY(!exists(folder.file("g1_1.mp3")));
  QVERIFY(exists(folder.file("single.mp3")));

  // Confirmed: the engine empties the group, to the trash.
  tick(&w.dialog, folder, "g2_0.mp3");
  tick(&w.dialog, folder, "g2_1.mp3");
  prompts::set_next_answer(prompts::answer::remove_every_copy);
  press(&w.dialog, kDeleteSelected);
  QCOMPARE(prompts::take_questions().size(), 1);
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted 2 Mp3s"));
  QVERIFY(!exists(folder.file("g2_0.mp3")) && !exists(folder.file("g2_1.mp3")));
  QVERIFY(exists(in_trash("g2_0.mp3")) && exists(in_trash("g2_1.mp3")));
  QVERIFY(get_fileentrybyfilename(folder.file("g2_0.mp3").c_str()) < 0);
}

void RemovalCommandsTest::PermanentDeletionUnlinksAndSaysSo() {
  ui_test::fresh_folder folder;
  write_groups(folder, 1, 2);
  window_settings::set_permanent_deletion(true);
  ui_test::window w;
  tick(&w.dialog, folder, "g0_1.mp3");
  const size_t trashed_before = files_in_trash();
  press(&w.dialog, kDeleteSelected);
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Deleting Mp3-Files...(Deleting Files Completed) - deleted for good"));
  QVERIFY(!exists(folder.file("g0_1.mp3")));
  QCOMPARE(files_in_trash(), trashed_before);
  // Nothing removed: the Parts' text alone.
  press(&w.dialog, kDeleteSelected);
  QCOMPARE(text_of(&w.dialog, kLowerLine),
           QStringLiteral("Deleting Mp3-Files...(Deleting Files Completed)"));
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted 0 Mp3s"));
}

void RemovalCommandsTest::TickedFilesLeftInPlaceAreTold() {
  ui_test::fresh_folder folder;
  write_groups(folder, 2, 2);
  ui_test::window w;
  tick(&w.dialog, folder, "g0_1.mp3");
  tick(&w.dialog, folder, "g1_1.mp3");
  write_song(folder.file("g0_1.mp3"), 999, "re-recorded");  // no longer a copy
  press(&w.dialog, kDeleteSelected);
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted 1 Mp3s"));
  const QStringList boxes = prompts::take_boxes();
  QCOMPARE(boxes.size(), 1);
  QVERIFY2(boxes[0].startsWith(QStringLiteral("Varnelo Warning: 1 ticked files were not removed:\n") +
                               QString::fromStdString(folder.file("g0_1.mp3")) + ": "),
           qPrintable(boxes[0]));
  QVERIFY(exists(folder.file("g0_1.mp3")));
}

void RemovalCommandsTest::AbortStopsTheRemovalBetweenFiles() {
  ui_test::fresh_folder folder;
  write_groups(folder, 40, 2);
  ui_test::window w;
  prompts::set_next_answer(prompts::answer::yes);
  bool ran = false;
  QTimer::singleShot(0, [&] {
    ran = true;
    press(&w.dialog, kSaveDb);  // refused: busy
    press(&w.dialog, kAbort);
  });
  press(&w.dialog, kDeleteAllDuplicates);
  QVERIFY(ran);
  QVERIFY(prompts::take_boxes().isEmpty());
  uint32_t left = 0;
  for (int g = 0; g < 40; ++g) left += exists(folder.file("g" + std::to_string(g) + "_1.mp3"));
  QVERIFY2(left > 0, "the removal ran to its end");
  QCOMPARE(text_of(&w.dialog, kMiddleLine), QStringLiteral("Deleted %1 Mp3s").arg(40 - left));
  QCOMPARE(file_getfilenum(), 40u + left);
}

QTEST_MAIN(RemovalCommandsTest)
#include "removal_commands_test.moc"
