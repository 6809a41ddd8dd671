// Shared pieces of the window's tests: a fresh folder as current directory with an empty
// store and answered boxes, song files built in code, and reading the dialog's texts.
#ifndef VARNELO_UI_UI_TEST_SUPPORT_H_
#define VARNELO_UI_UI_TEST_SUPPORT_H_

#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QSettings>
#include <QTest>

#include <initializer_list>
#include <memory>
#include <string>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "tests/support/mp3_files.h"
#include "tests/support/temp_dir.h"
#include "ui/control_ids.h"
#include "ui/dialog_session.h"
#include "ui/dialog_template.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"

namespace ui_test {

// Each test runs in a folder of its own, so "default.mp3db" is a file of that test (and
// "state/" its user's state folder), with an empty store and every box recorded rather
// than shown.
class fresh_folder {
 public:
  fresh_folder() : dir_(std::make_unique<testing_support::TempDir>()) {
    testing_support::use_own_trash();  // deleting moves files to the trash
    char* cwd = getcwd(nullptr, 0);
    old_cwd_ = cwd != nullptr ? cwd : "/";
    free(cwd);
    if (chdir(dir_->path().c_str()) != 0) qFatal("cannot enter %s", dir_->path().c_str());
    // Recovery files of failed saves and the window's settings stay inside the test's folder.
    setenv("XDG_STATE_HOME", file("state").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(file("config")));
    tables::clear();
    mp3db_set_scan_workers(1);
    prompts::reset_seam();
    prompts::set_answering(true);
  }
  ~fresh_folder() {
    tables::clear();
    if (chdir(old_cwd_.c_str()) != 0) qWarning("cannot return to %s", old_cwd_.c_str());
  }
  const testing_support::TempDir& dir() const { return *dir_; }
  std::string file(const std::string& name) const { return dir_->file(name); }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
  std::string old_cwd_;
};

// A song file: the same seed gives the same audio, so the same content digest whatever the
// tags; title makes the tags (and so the file bytes) differ.
inline void write_song(const std::string& path, uint32_t seed, const std::string& title = "",
                       size_t audio_bytes = 4096) {
  testing_support::mp3_parts parts;
  parts.audio = testing_support::random_bytes(audio_bytes, seed);
  parts.has_id3v2 = !title.empty();
  parts.id3v2_body = title.size() * 3;
  parts.has_id3v1 = !title.empty();
  parts.title = title;
  testing_support::write_file(path, testing_support::make_mp3(parts));
}

// Writes a song of seed at each name, titled by the name without ".mp3", and adds it to the
// store in that order.
inline void add_songs(const fresh_folder& folder, uint32_t seed,
                      std::initializer_list<std::string> names) {
  for (const std::string& name : names) {
    write_song(folder.file(name), seed, name.substr(0, name.rfind(".mp3")));
    QCOMPARE(file_add(folder.file(name).c_str()), 1);
  }
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The number of entries the database file db holds, read from its header.
inline uint32_t files_on_disk(const std::string& db) {
  uint32_t files = 0;
  return file_readheader(db.c_str(), nullptr, &files, nullptr) == 1 ? files : 0xFFFFFFFF;
}

inline QString text_of(const QWidget* dialog, int id) {
  QWidget* w = dialog_template::find(dialog, id);
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  return QString();
}

inline void press(QWidget* dialog, int id) {
  auto* button = qobject_cast<QAbstractButton*>(dialog_template::find(dialog, id));
  QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no button %1").arg(id)));
  QTest::mouseClick(button, Qt::LeftButton);
}

// Answers the next chooser with path (an empty one cancels it), then presses button id.
inline void choose_and_press(QWidget* dialog, const std::string& path, int id) {
  prompts::set_next_file_name(QString::fromStdString(path));
  press(dialog, id);
}

// The store holds files entries, the view lists groups, and the upper line counts the files
// (songs of a few kilobytes: 0 MB).
inline void expect_listed(const QWidget* dialog, uint32_t files, int groups) {
  QCOMPARE(file_getfilenum(), files);
  QCOMPARE(model_of(dialog)->rowCount(), groups);
  QCOMPARE(text_of(dialog, kUpperLine),
           QStringLiteral("Files in DB : %1 Mp3s ,Size of all Mp3s together : 0 MB").arg(files));
}

// The dialog with its session, shown and active (so that its shortcuts work).
struct window {
  window() : session(&dialog) {
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog)) qWarning("the dialog did not become active");
  }
  MainDialog dialog;
  DialogSession session;
};

// The folder and the window of one test, for a test class to derive from beside QObject:
// its init() slot calls start() and its cleanup() slot finish().
class window_fixture {
 protected:
  void start() {
    finish();
    folder_ = std::make_unique<fresh_folder>();
  }
  void finish() {
    window_.reset();
    folder_.reset();
  }
  const fresh_folder& folder() const { return *folder_; }
  std::string file(const std::string& name) const { return folder_->file(name); }
  // Opens the dialog with its session in the test's folder, shown and active, after closing
  // any opened before (two sessions at once would share one event pump).
  MainDialog& open_dialog() {
    window_.reset();
    window_ = std::make_unique<window>();
    return window_->dialog;
  }
  DialogSession& session() { return window_->session; }

 private:
  std::unique_ptr<fresh_folder> folder_;
  std::unique_ptr<window> window_;
};

}  // namespace ui_test

#endif  // VARNELO_UI_UI_TEST_SUPPORT_H_
