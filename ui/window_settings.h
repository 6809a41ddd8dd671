// What the window remembers between runs (kept with QSettings in the user's configuration
// folder, varnelo/window.conf): the protected folders, whether deleting skips the trash, and
// the keep rule that picks the copy to keep in each group.
#ifndef VARNELO_UI_WINDOW_SETTINGS_H_
#define VARNELO_UI_WINDOW_SETTINGS_H_

#include <QString>
#include <QStringList>

#include <vector>

#include "cleanup/keep_rules.h"

namespace window_settings {

// Folders whose files are never ticked, moved or removed, as the user chose them.
QStringList protected_folders();
void set_protected_folders(const QStringList& folders);

// Deleting unlinks files for good instead of moving them to the trash (off by default).
bool permanent_deletion();
void set_permanent_deletion(bool permanent);

// The keep rule: one of the ordering rules, or keep_in with its folder.
struct keep_choice {
  cleanup::keep_rule_kind kind = cleanup::keep_rule_kind::first;
  QString folder;  // for keep_in
};
keep_choice keep_rule();
void set_keep_rule(const keep_choice& choice);

// The engine's rules for a choice: the protected folders first (never removed, preferred as
// the keeper), then the chosen rule.
std::vector<cleanup::keep_rule> rules_of(const keep_choice& choice);

}  // namespace window_settings

#endif  // VARNELO_UI_WINDOW_SETTINGS_H_
