// "Move Files into a directory": the ticked files moved on disk into a folder the user
// picks, each database entry following its file.
#ifndef VARNELO_UI_MOVE_COMMAND_H_
#define VARNELO_UI_MOVE_COMMAND_H_

class DialogSession;

namespace commands {

// Moves every ticked file into the chosen folder through the cleanup library (never over a
// file there; across file systems copied, verified, then removed) and gives its entry the new
// path with file_move. Protected files stay. Progress on the upper line; the abort button
// stops between files. Files left where they were are told in one box.
void move_ticked(DialogSession& s);

}  // namespace commands

#endif  // VARNELO_UI_MOVE_COMMAND_H_
