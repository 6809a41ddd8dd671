// Where the entries of a database go when it cannot be saved: a recovery file beside it,
// or else in the user's state folder.
#ifndef VARNELO_DATABASE_RECOVERY_H_
#define VARNELO_DATABASE_RECOVERY_H_

#include <string>

namespace recovery {

// The n-th name tried for a recovery file of database name in folder (empty: the folder of
// name itself): "BASE.recovered.mp3db", then "BASE.recovered-1.mp3db" and so on, BASE being
// the database's file name without its ".mp3db" ending. A name that holds ".mp3db" keeps
// the window's and the command line's naming from adding another.
std::string file_name(const std::string& folder, const char* name, int n);

// The user's state folder for this program: $XDG_STATE_HOME/varnelo, else
// ~/.local/state/varnelo, made (private to the user) when missing. Empty when there is no
// home to put it in or it cannot be made.
std::string state_folder();

}  // namespace recovery

#endif  // VARNELO_DATABASE_RECOVERY_H_
