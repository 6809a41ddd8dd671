// The tick helpers on the tree's model, with the engine's plan deciding the keepers.
#include "ui/tick_commands.h"

#include <QFile>
#include <QFileInfo>

#include "cleanup/plan.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/status_lines.h"

namespace commands {
namespace {

std::vector<std::string> encoded(const QStringList& folders) {
  std::vector<std::string> out;
  for (const QString& f : folders) out.push_back(QFile::encodeName(f).toStdString());
  return out;
}

QString rule_text(const window_settings::keep_choice& rule) {
  if (rule.kind == cleanup::keep_rule_kind::keep_in)
    return QStringLiteral("keep in %1").arg(rule.folder);
  return QString::fromLatin1(cleanup::keep_rule_name(rule.kind));
}

void lower_line(DialogSession& s, const QString& text) {
  UpdateStatus(text.toLocal8Bit().constData(), s.view);
}

}  // namespace

ticked_by_rule tick_all_but_keepers(DialogSession& s, const window_settings::keep_choice& rule) {
  ticked_by_rule out;
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr) return out;
  const std::vector<cleanup::keep_rule> rules = window_settings::rules_of(rule);
  if (rule.kind == cleanup::keep_rule_kind::keep_in) {
    const std::string problem = cleanup::rule_folder_problem(rules.back());
    if (!problem.empty()) {
      out.problem = QString::fromLocal8Bit(problem);
      lower_line(s, QStringLiteral("Ticking Copies...(%1)").arg(out.problem));
      return out;
    }
  }
  window_settings::set_keep_rule(rule);
  const cleanup::cleanup_plan plan = cleanup::make_plan(model->listing().grouped, rules);
  for (uint32_t file : model->ticked_files()) model->set_file_ticked(file, false);
  for (const cleanup::planned_copy& copy : plan.copies) {
    if (copy.fate != cleanup::copy_fate::go || !model->set_file_ticked(copy.index, true)) continue;
    ++out.files;
    out.bytes += copy.size;
  }
  out.groups_left_alone = plan.groups_left_alone;
  model->ticks_changed();
  QString text = QStringLiteral("Ticking Copies...(%1 ticked, all but the copy to keep by %2)")
                     .arg(out.files)
                     .arg(rule_text(rule));
  if (out.groups_left_alone > 0)
    text += QStringLiteral(" %1 groups have no copy there and stay unticked.")
                .arg(out.groups_left_alone);
  lower_line(s, text);
  return out;
}

ticked_by_rule tick_all_but_keepers(DialogSession& s) {
  return tick_all_but_keepers(s, window_settings::keep_rule());
}

uint64_t tick_folder(DialogSession& s, const QString& folder) {
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr) return 0;
  // Containment as protection sees it: real paths, whole components.
  cleanup::protected_folders under(encoded({folder}));
  uint64_t ticked = 0;
  for (uint32_t file : model->listed_files()) {
    const fileentry* f = db_getfileentry(file);
    if (f != nullptr && under.folder_holding(f->filename) != nullptr &&
        model->set_file_ticked(file, true))
      ++ticked;
  }
  model->ticks_changed();
  lower_line(s, QStringLiteral("Ticking Copies...(%1 under %2)").arg(ticked).arg(folder));
  return ticked;
}

void untick_all(DialogSession& s) {
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr) return;
  for (uint32_t file : model->ticked_files()) model->set_file_ticked(file, false);
  model->ticks_changed();
  lower_line(s, QStringLiteral("Ticking Copies...(All Unticked)"));
}

void invert_group(DialogSession& s, int g) {
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr || g < 0 ||
      static_cast<size_t>(g) >= model->listing().grouped.groups.size())
    return;
  const cleanup::duplicate_groups& grouped = model->listing().grouped;
  for (uint32_t file : grouped.files_of(grouped.groups[static_cast<size_t>(g)]))
    model->set_file_ticked(file, !model->file_ticked(file));
  model->ticks_changed();
}

void apply_protection(DialogSession& s) {
  if (DuplicatesModel* model = model_of(s.view))
    model->set_protection(cleanup::protected_folders(encoded(window_settings::protected_folders())));
}

void protect_folder(DialogSession& s, const QString& folder) {
  QStringList folders = window_settings::protected_folders();
  if (!folders.contains(folder)) folders << folder;
  window_settings::set_protected_folders(folders);
  apply_protection(s);
  lower_line(s, QStringLiteral("Protecting Folder...(%1 is protected)").arg(folder));
}

void unprotect_folder(DialogSession& s, const QString& folder) {
  QStringList folders = window_settings::protected_folders();
  folders.removeAll(folder);
  window_settings::set_protected_folders(folders);
  apply_protection(s);
  lower_line(s, QStringLiteral("Protecting Folder...(%1 is no longer protected)").arg(folder));
}

}  // namespace commands
