// The database of one run of the tool: named and loaded before a command, saved after it
// when the command changed it. A file that exists but cannot be loaded stops the run
// before anything is written, so an unreadable database is never replaced by an empty one.
#ifndef VARNELO_CLI_DATABASE_SESSION_H_
#define VARNELO_CLI_DATABASE_SESSION_H_

#include <stdint.h>

#include <optional>
#include <string>

#include "cli/console.h"

class database_session {
 public:
  // Names the database file as the window does (".mp3db" is appended unless the name
  // contains it). Nothing is read yet.
  explicit database_session(const std::string& name);
  // Releases whatever the store still holds (a run that saved nothing), without writing.
  ~database_session();
  database_session(const database_session&) = delete;
  database_session& operator=(const database_session&) = delete;

  // The file name after naming, as the store holds it.
  std::string path() const;
  // For a command that changes the database, before it is loaded: takes the database's
  // lock, so that the file loaded is the one saved over and no other program saves in
  // between, and checks that the database can be written there, so that no work is done
  // for nothing. While another run of this tool holds the lock it waits, saying so once,
  // for up to wait_seconds (negative: until that run ends); another program (the window)
  // is refused at once. False, after an error, when the command must not run.
  bool lock_for_change(const console& out, double wait_seconds);
  // Loads the file; a file that does not exist gives an empty database. False, after an
  // error naming the file and the reason, when the file exists but cannot be loaded.
  bool load(const console& out);
  // Saves the database with the store's save when its counts differ from those at load
  // or mark_changed was called. False, after an error, when the save failed; the entries
  // then go to a recovery file, whose path the error names.
  bool save_if_changed(const console& out);
  void mark_changed() { changed_ = true; }

  // The stamp word of the file's header, or nothing when the file has no full header.
  std::optional<uint32_t> stamp() const;
  bool file_exists() const { return exists_; }

 private:
  bool exists_ = false;
  bool changed_ = false;
  uint32_t files_at_load_ = 0;
  uint32_t hashes_at_load_ = 0;
};

#endif  // VARNELO_CLI_DATABASE_SESSION_H_
