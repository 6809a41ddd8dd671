// Ticking many copies at once: all but the keeper of every group by a keep rule, every copy
// under a folder, none, the opposite within a group; and protecting folders, whose copies
// cannot be ticked. They change ticks (and settings), never files.
#ifndef VARNELO_UI_TICK_COMMANDS_H_
#define VARNELO_UI_TICK_COMMANDS_H_

#include <stdint.h>

#include <QString>

#include "ui/window_settings.h"

class DialogSession;

namespace commands {

struct ticked_by_rule {
  uint64_t files = 0;               // copies ticked
  uint64_t bytes = 0;               // their sizes
  uint64_t groups_left_alone = 0;   // keep-in: groups with no copy in the folder
  QString problem;                  // why nothing was ticked (a keep-in folder unusable)
};

// Ticks every copy but the one the rule keeps in each duplicate group (protected copies
// stay unticked and are preferred as keepers), unticking the rest; remembers the rule as the
// current one. Tells on the status lines what it did.
ticked_by_rule tick_all_but_keepers(DialogSession& s, const window_settings::keep_choice& rule);
// By the current rule.
ticked_by_rule tick_all_but_keepers(DialogSession& s);

// Ticks every listed copy under folder (real paths compared), protected ones excepted.
uint64_t tick_folder(DialogSession& s, const QString& folder);
void untick_all(DialogSession& s);
// Inverts the ticks of the copies of duplicate group g.
void invert_group(DialogSession& s, int g);

// Adds folder to the protected folders (kept in the settings); its copies are unticked.
void protect_folder(DialogSession& s, const QString& folder);
void unprotect_folder(DialogSession& s, const QString& folder);
// Gives the tree the protected folders of the settings.
void apply_protection(DialogSession& s);

}  // namespace commands

#endif  // VARNELO_UI_TICK_COMMANDS_H_
