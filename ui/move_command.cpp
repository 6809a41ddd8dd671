// Moving the ticked files: paths resolved first, then one file at a time with the window kept
// alive between them.
#include "ui/move_command.h"

#include <stdio.h>

#include <QFile>

#include <string>
#include <vector>

#include "cleanup/file_move.h"
#include "database/mp3_db.h"
#include "ui/database_lock.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"

namespace commands {
namespace {

constexpr int kFilesNamed = 15;

}  // namespace

void move_ticked(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  DuplicatesModel* model = model_of(s.view);
  UpdateStatus("Moving Mp3-Files...(Selecting Directory)", s.view);
  std::vector<std::string> paths;
  if (model != nullptr) {
    for (uint32_t file : model->ticked_files())
      if (const fileentry* f = db_getfileentry(file)) paths.emplace_back(f->filename);
  }
  if (paths.empty()) {
    UpdateStatus("Moving Mp3-Files...(No Files Ticked)", s.view);
    return;
  }
  const QString chosen = prompts::folder(s.view, QStringLiteral("Move Files into a directory"));
  if (chosen.isEmpty()) {
    UpdateStatus("Moving Mp3-Files...(Aborted)", s.view);
    return;
  }
  const std::string folder = QFile::encodeName(chosen).toStdString();
  UpdateStatus("Moving Mp3-Files...(Moving Files)", s.view);

  cleanup::protected_folders protection(model->protection().real_paths());
  uint64_t moved = 0, left = 0;
  QString named;
  char text[128];
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    cleanup::move_outcome outcome;
    if (const std::string* guard = protection.folder_holding(path)) {
      outcome.reason = "under the protected folder " + *guard;
    } else {
      outcome = cleanup::move_into_folder(path, folder);
    }
    if (outcome.moved) {
      ++moved;
      s.changed = true;
      // An entry left from a file that was once at the new path names a file that was not
      // there (nothing is ever moved over a file): it goes, so no path is listed twice.
      const int32_t stale = get_fileentrybyfilename(outcome.new_path.c_str());
      if (stale >= 0) db_deletefileentry(stale);
      // Looked up by path only now: that removal, or a clean run in between, moves entries.
      const int32_t entry = get_fileentrybyfilename(path.c_str());
      if (entry >= 0) file_move(entry, outcome.new_path.c_str());
    } else if (++left <= kFilesNamed) {
      named += QStringLiteral("\n%1: %2").arg(QString::fromLocal8Bit(path),
                                             QString::fromLocal8Bit(outcome.reason));
    }
    snprintf(text, sizeof text, "Moving files: %zu of %zu", i + 1, paths.size());
    UpdateStatus3(text, s.view);
    s.view->pump();
    if (s.working == 0 || s.view->ended()) break;
  }
  UpdateTreeView(s.view);
  const std::string summary = "Moved " + std::to_string(moved) + " Mp3s into " + folder;
  UpdateStatus2(summary.c_str(), s.view);
  UpdateStatus("Moving Mp3-Files...(Moving Files Completed)", s.view);
  if (left > 0) {
    QString text_box = QStringLiteral("%1 ticked files were not moved:").arg(left) + named;
    if (left > kFilesNamed)
      text_box += QStringLiteral("\n... and %1 more.").arg(left - kFilesNamed);
    prompts::message(s.view, text_box, QStringLiteral("Varnelo Warning"));
  }
}

}  // namespace commands
