// The ticks become the engine's removal groups: per digest, the unticked copies stay and the
// ticked ones go. The engine checks every copy again right before it goes.
#include "ui/removal_commands.h"

#include <stdio.h>
#include <string.h>

#include <QFile>
#include <QStringList>

#include <string>
#include <unordered_map>
#include <vector>

#include "cleanup/plan.h"
#include "cleanup/removal.h"
#include "database/mp3_db.h"
#include "ui/database_lock.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"
#include "ui/tick_commands.h"
#include "ui/window_settings.h"

namespace {

constexpr int kFilesNamed = 15;

struct ticked_groups {
  std::vector<cleanup::removal_group> groups;
  std::vector<int> listed_group;  // per removal group: its duplicate group, or -1 (one file)
  std::vector<size_t> every_copy_ticked;  // removal groups with no copy to stay
};

// The removal groups of the ticked files of the model's listing. A file whose entry is gone
// or has no digest is left out: nothing could be checked about it.
ticked_groups groups_of_ticks(const DuplicatesModel& model) {
  ticked_groups out;
  const cleanup::duplicate_groups& grouped = model.listing().grouped;
  std::vector<int> group_of_hash(grouped.hashnum, -1);
  for (size_t g = 0; g < grouped.groups.size(); ++g) {
    const int32_t h = grouped.groups[g].hashid;
    if (h >= 0 && static_cast<uint32_t>(h) < grouped.hashnum) group_of_hash[h] = static_cast<int>(g);
  }
  std::unordered_map<int32_t, size_t> by_hash;
  for (uint32_t file : model.ticked_files()) {
    const fileentry* f = db_getfileentry(file);
    if (f == nullptr || f->hashid < 0 || static_cast<uint32_t>(f->hashid) >= grouped.hashnum)
      continue;
    auto it = by_hash.find(f->hashid);
    if (it == by_hash.end()) {
      const int g = group_of_hash[f->hashid];
      cleanup::removal_group group;
      if (g >= 0) {
        group.digest = grouped.groups[g].digest;
      } else if (const unsigned char* d = db_gethashentry(static_cast<uint32_t>(f->hashid))) {
        memcpy(group.digest.data(), d, group.digest.size());
      } else {
        continue;
      }
      it = by_hash.emplace(f->hashid, out.groups.size()).first;
      out.groups.push_back(std::move(group));
      out.listed_group.push_back(g);
    }
    out.groups[it->second].go.emplace_back(f->filename);
  }
  for (size_t r = 0; r < out.groups.size(); ++r) {
    const int g = out.listed_group[r];
    if (g >= 0) {
      for (uint32_t file : grouped.files_of(grouped.groups[g])) {
        const fileentry* f = db_getfileentry(file);
        if (f != nullptr && !model.file_ticked(file)) out.groups[r].stay.emplace_back(f->filename);
      }
    }
    if (out.groups[r].stay.empty()) out.every_copy_ticked.push_back(r);
  }
  return out;
}

// Puts the copies of the groups whose every copy is ticked in the order the current keep
// rule would keep them, so that the one kept is the one the rule prefers.
void order_by_keep_rule(ticked_groups* t, const DuplicatesModel& model) {
  const cleanup::duplicate_groups& grouped = model.listing().grouped;
  cleanup::duplicate_groups subset;
  subset.hashnum = grouped.hashnum;
  std::vector<size_t> removal_of;
  for (size_t r : t->every_copy_ticked) {
    const int g = t->listed_group[r];
    if (g < 0) continue;  // a single file: keeping one copy keeps it
    cleanup::digest_group group = grouped.groups[g];
    const auto files = grouped.files_of(group);
    group.first = static_cast<uint32_t>(subset.files.size());
    subset.files.insert(subset.files.end(), files.begin(), files.end());
    subset.groups.push_back(group);
    removal_of.push_back(r);
  }
  const cleanup::cleanup_plan plan =
      cleanup::make_plan(subset, window_settings::rules_of(window_settings::keep_rule()));
  for (size_t i = 0; i < plan.groups.size(); ++i) {
    std::vector<std::string> ordered;
    for (const cleanup::planned_copy& c : plan.copies_of(plan.groups[i]))
      ordered.emplace_back(plan.path(c));
    t->groups[removal_of[i]].go = std::move(ordered);
  }
}

QString files_left_text(const std::vector<cleanup::file_outcome>& left, uint64_t count,
                        uint64_t no_trash) {
  QString text = QStringLiteral("%1 ticked files were not removed:").arg(count);
  for (size_t i = 0; i < left.size() && i < kFilesNamed; ++i) {
    text += QStringLiteral("\n%1: %2").arg(QString::fromLocal8Bit(left[i].path),
                                           QString::fromLocal8Bit(left[i].reason));
  }
  if (count > kFilesNamed) text += QStringLiteral("\n... and %1 more.").arg(count - kFilesNamed);
  if (no_trash > 0) {
    text += QStringLiteral("\n%1 of them lie on a file system without a usable trash; "
                           "\"Delete Permanently\" in the tree's menu removes them for good.")
                .arg(no_trash);
  }
  return text;
}

// The lower line's last text, saying where the files went.
void completed(DialogSession& s, const char* text, const removal_report& r) {
  std::string line = text;
  if (r.removed > 0)
    line += r.to_trash ? " - in the trash, where they can be restored" : " - deleted for good";
  UpdateStatus(line.c_str(), s.view);
}

}  // namespace

removal_report CheckTreeView(DialogSession& s) {
  removal_report report;
  report.to_trash = !window_settings::permanent_deletion();
  DuplicatesModel* model = model_of(s.view);
  std::vector<cleanup::file_outcome> left;
  uint64_t left_count = 0, no_trash = 0;
  if (model != nullptr) {
    // Every ticked item is resolved to its path before anything is removed: removing an
    // entry moves the table's last entry into its slot, which makes later tags name other
    // files.
    ticked_groups ticked = groups_of_ticks(*model);
    if (!ticked.every_copy_ticked.empty()) {
      const prompts::answer a = prompts::ask(
          s.view,
          QStringLiteral("Every copy of %1 songs is ticked: removing them would leave nothing of "
                         "those recordings. Keep one copy of each?")
              .arg(ticked.every_copy_ticked.size()),
          QStringLiteral("Varnelo Warning"),
          {prompts::answer::keep_one_copy, prompts::answer::remove_every_copy},
          prompts::answer::keep_one_copy);
      if (a == prompts::answer::remove_every_copy) {
        for (size_t r : ticked.every_copy_ticked) ticked.groups[r].may_empty = true;
      } else {
        order_by_keep_rule(&ticked, *model);
        for (size_t r : ticked.every_copy_ticked) ticked.groups[r].keep_a_copy_to_go = true;
      }
    }
    cleanup::removal_options options;
    options.method =
        report.to_trash ? cleanup::removal_method::trash : cleanup::removal_method::permanent;
    options.protected_folders = model->protection().real_paths();
    options.on_file = [&](const cleanup::file_outcome& o) {
      // A copy kept instead is the one copy the user chose to keep; only skipped ones are news.
      if (o.kind == cleanup::outcome_kind::skipped) {
        ++left_count;
        if (left.size() < kFilesNamed) left.push_back(o);
      }
      return true;
    };
    // The abort button stops a removal that a command runs under the busy flag.
    const bool abortable = s.working != 0;
    options.on_progress = [&](uint64_t done, uint64_t total) {
      char text[96];
      snprintf(text, sizeof text, "Removing files: %llu of %llu",
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
      UpdateStatus3(text, s.view);
      s.view->pump();
      return !(abortable && s.working == 0) && !s.view->ended();
    };
    const cleanup::removal_summary summary = cleanup::remove_copies(ticked.groups, options);
    report.removed = summary.trashed + summary.deleted;
    report.stopped = summary.stopped;
    no_trash = summary.no_trash;
    if (report.removed > 0) s.changed = true;
  }
  file_updatedb();
  char text[64];
  snprintf(text, sizeof text, "Deleted %d Mp3s", static_cast<int>(report.removed));
  UpdateTreeView(s.view);
  UpdateStatus2(text, s.view);
  if (left_count > 0) {
    prompts::message(s.view, files_left_text(left, left_count, no_trash),
                     QStringLiteral("Varnelo Warning"));
  }
  return report;
}

namespace commands {

void delete_selected(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Deleting Mp3-Files...(Deleting Files From Disk)", s.view);
  const removal_report report = CheckTreeView(s);
  completed(s, "Deleting Mp3-Files...(Deleting Files Completed)", report);
}

void delete_all_duplicates(DialogSession& s) {
  if (!window_lock::may_change(&s)) return;
  UpdateStatus("Deleting All Duplicates...(Ticking All But One Copy)", s.view);
  const window_settings::keep_choice rule = window_settings::keep_rule();
  const ticked_by_rule ticked = tick_all_but_keepers(s, rule);
  if (!ticked.problem.isEmpty()) {
    prompts::message(s.view, ticked.problem, QStringLiteral("Varnelo Error"));
    return;
  }
  if (ticked.files == 0) {
    UpdateStatus("Deleting All Duplicates...(No Duplicates to Delete)", s.view);
    return;
  }
  const bool to_trash = !window_settings::permanent_deletion();
  const QString question =
      QStringLiteral("Delete %1 duplicate files (%2 MB)? One copy of each group stays, the one "
                     "the rule \"%3\" keeps. %4")
          .arg(ticked.files)
          .arg((ticked.bytes + 524288) / 1048576)
          .arg(rule.kind == cleanup::keep_rule_kind::keep_in
                   ? QStringLiteral("keep in %1").arg(rule.folder)
                   : QString::fromLatin1(cleanup::keep_rule_name(rule.kind)))
          .arg(to_trash ? QStringLiteral("The files go to the trash.")
                        : QStringLiteral("The files are deleted for good."));
  if (prompts::ask(s.view, question, QStringLiteral("Varnelo"),
                   {prompts::answer::yes, prompts::answer::no},
                   prompts::answer::no) != prompts::answer::yes) {
    UpdateStatus("Deleting All Duplicates...(Cancelled: the copies stay ticked)", s.view);
    return;
  }
  UpdateStatus("Deleting All Duplicates...(Deleting Files)", s.view);
  const removal_report report = CheckTreeView(s);
  completed(s, "Deleting All Duplicates...(Deleting Files Completed)", report);
}

}  // namespace commands
