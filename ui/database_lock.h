// The window's hold on its database: the lock of the library (file_lockdb), taken before a
// database is read and held until the window lets it go, so that what the window saves
// never drops what another program (a varnelo-cli run) saved meanwhile. Where another
// program holds it, the window shows the database read-only and says so.
#ifndef VARNELO_UI_DATABASE_LOCK_H_
#define VARNELO_UI_DATABASE_LOCK_H_

class DialogSession;

namespace window_lock {

// Before the database the store names is read (at the start and by Open DB): takes its
// lock, letting go of the one held before. When another program holds it, the window goes
// on read-only; tell_if_read_only, called once the database is read, then says so in a box
// naming that program.
void take_for_reading(DialogSession* session, const char* name);
void tell_if_read_only(DialogSession* session);

// Before Create new DB writes the database the store now names: takes its lock. False,
// after a box naming the holder, when another program holds it (the caller then changes
// nothing).
bool take_for_creating(DialogSession* session);

// Before a command that changes or saves the database: true when it may go on. Read-only,
// the lock is tried again; once taken, a file that another program changed meanwhile is
// read again (nothing was changed here in that state) and the listing rebuilt. False,
// after a box naming the holder, when another program holds it.
bool may_change(DialogSession* session);

// Whether closing saves: not while read-only, when there is nothing of this window's to save.
bool may_save_on_close(const DialogSession* session);

}  // namespace window_lock

#endif  // VARNELO_UI_DATABASE_LOCK_H_
