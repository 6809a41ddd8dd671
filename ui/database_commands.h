// The dialog's commands on the database itself: start, create, open, save, clean, scan,
// add, and the close that saves. DialogFunc calls them, guarded where they must be.
#ifndef VARNELO_UI_DATABASE_COMMANDS_H_
#define VARNELO_UI_DATABASE_COMMANDS_H_

class DialogSession;

namespace commands {

// The dialog start: the lock, "default.mp3db" loaded, the listing and the ready text.
void start(DialogSession& session);
void create_db(DialogSession& session);
void open_db(DialogSession& session);
void save_db(DialogSession& session);
void clean_db(DialogSession& session);
void scan_directory(DialogSession& session);
void add_file(DialogSession& session);
// Saves (unless read-only) and ends the dialog, whether the save succeeded or not.
void close_dialog(DialogSession& session);
// Escape: ends the dialog without saving; when the database holds changes not yet saved, the
// user is asked first: Save (as the close box does, once a walk under way has returned),
// Discard (end without saving) or Cancel (nothing happens).
void escape(DialogSession& session);

}  // namespace commands

#endif  // VARNELO_UI_DATABASE_COMMANDS_H_
