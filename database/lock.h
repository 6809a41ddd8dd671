// Locks of database files between programs: an advisory lock (flock) on ".NAME.lock" beside
// the file that a save of the database replaces. The public functions are in mp3_db.h; this
// is what the store asks of them before it writes.
#ifndef VARNELO_DATABASE_LOCK_H_
#define VARNELO_DATABASE_LOCK_H_

#include <string>

namespace db_lock {

// The lock file of database name: ".NAME.lock" beside the file a save of name replaces.
std::string lock_path(const char* name);

// False when another process holds the lock of database name, so that a save there could
// drop what that process saves. True when this process holds it, when there is no lock
// file, and when the lock is free.
bool save_permitted(const char* name);

}  // namespace db_lock

#endif  // VARNELO_DATABASE_LOCK_H_
