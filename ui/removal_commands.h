// Removing the ticked files through the cleanup library's safe removal: "Delete selected
// files" and "Delete all duplicate files", to the trash unless the user chose otherwise.
#ifndef VARNELO_UI_REMOVAL_COMMANDS_H_
#define VARNELO_UI_REMOVAL_COMMANDS_H_

#include <stdint.h>

class DialogSession;

// What a removal did.
struct removal_report {
  uint64_t removed = 0;  // files trashed or deleted (and their entries dropped)
  bool to_trash = true;
  bool stopped = false;  // the abort button stopped it
};

// Removes the files of the ticked items (a ticked file goes only while an unticked copy of
// its group still holds the content, when it still holds that content itself and is not the
// very file of an unticked copy; where every copy of a group is ticked, the user is asked
// once whether to keep one copy of each), then cleans the database, rebuilds the listing and
// writes "Deleted %d Mp3s" to the middle line. Files left in place are told in one box.
removal_report CheckTreeView(DialogSession& s);

namespace commands {

// 1012: the lower line's steps around CheckTreeView, ending with where the files went.
void delete_selected(DialogSession& s);
// 1016: ticks all but the keeper of every group by the current keep rule, asks once with the
// number of files and megabytes, then removes them as delete_selected does.
void delete_all_duplicates(DialogSession& s);

}  // namespace commands

#endif  // VARNELO_UI_REMOVAL_COMMANDS_H_
