// Locking, loading and saving the database of a run.
#include "cli/database_session.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <string>

#include "database/mp3_db.h"

namespace {

constexpr const char* kProgram = "varnelo-cli";
constexpr long kLockPollNs = 100 * 1000 * 1000;

// "PROGRAM (process PID)" of the holder that the last refused lock named.
std::string lock_holder() {
  const char* program = nullptr;
  int32_t pid = file_lockholder(&program);
  std::string name = program != nullptr && *program != '\0' ? program : "another program";
  if (pid > 0) name += " (process " + std::to_string(pid) + ")";
  return name;
}

bool holder_is_this_tool() {
  const char* program = nullptr;
  return file_lockholder(&program) > 0 && program != nullptr && std::string(program) == kProgram;
}

}  // namespace

database_session::database_session(const std::string& name) { file_setdb(name.c_str()); }

database_session::~database_session() {
  // A run that saved nothing still releases what the store holds.
  file_unloaddb();
  file_unlockdb();
}

std::string database_session::path() const {
  const char* name = file_getdbname();
  return name != nullptr ? name : "";
}

bool database_session::lock_for_change(const console& out, double wait_seconds) {
  const std::string name = path();
  const auto start = std::chrono::steady_clock::now();
  bool told = false;
  for (;;) {
    int locked = file_lockdb(name.c_str(), kProgram);
    if (locked == 1) break;
    if (locked < 0) {
      out.error("%s: cannot write the database: %s", name.c_str(), reason_of(errno).c_str());
      return false;
    }
    // Another run of this tool ends by itself; a window stays until its user closes it.
    if (!holder_is_this_tool()) {
      out.error("%s: the database is in use by %s; close that program and try again", name.c_str(),
                lock_holder().c_str());
      return false;
    }
    std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    if (wait_seconds >= 0 && waited.count() >= wait_seconds) {
      out.error("%s: the database is still in use by %s", name.c_str(), lock_holder().c_str());
      return false;
    }
    if (!told) {
      out.note("%s: waiting for %s, which is using the database", name.c_str(),
               lock_holder().c_str());
      told = true;
    }
    struct timespec pause = {0, kLockPollNs};
    nanosleep(&pause, nullptr);
  }
  if (file_writabledb(name.c_str()) == 0) {
    out.error("%s: cannot write the database: %s", name.c_str(), reason_of(errno).c_str());
    return false;
  }
  return true;
}

bool database_session::load(const console& out) {
  std::string name = path();
  struct stat st;
  if (stat(name.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      // No file yet: an empty database, written only if a command adds to it.
      exists_ = false;
      return true;
    }
    out.error("%s: cannot load the database: %s", name.c_str(), reason_of(errno).c_str());
    return false;
  }
  exists_ = true;
  if (!S_ISREG(st.st_mode)) {
    out.error("%s: cannot load the database: not a regular file", name.c_str());
    return false;
  }
  if (file_opendb() == 0) {
    std::string reason = unreadable_reason(name);
    if (reason == "readable") reason = "not a valid database file";
    out.error("%s: cannot load the database: %s", name.c_str(), reason.c_str());
    return false;
  }
  files_at_load_ = file_getfilenum();
  hashes_at_load_ = file_gethashnum();
  return true;
}

bool database_session::save_if_changed(const console& out) {
  if (!changed_ && file_getfilenum() == files_at_load_ && file_gethashnum() == hashes_at_load_) {
    return true;
  }
  errno = 0;
  if (file_closedb() != 0) return true;
  int saved = errno;
  const std::string name = path();
  out.error("%s: cannot save the database: %s", name.c_str(),
            saved != 0 ? reason_of(saved).c_str() : "write failed");
  // The work of the run is still in memory: it goes to a file of its own rather than away.
  mp3db_owned<char> recovered(file_saverecovery());
  if (recovered == nullptr) {
    out.error("%s: no recovery file could be written either; the changes of this run are lost",
              name.c_str());
    return false;
  }
  out.error(
      "%s: its %u entries were written to %s instead; use that file with --db, or "
      "rename it to %s",
      name.c_str(), file_getfilenum(), recovered.get(), name.c_str());
  return false;
}

std::optional<uint32_t> database_session::stamp() const {
  uint32_t stamp = 0;
  if (file_readheader(path().c_str(), nullptr, nullptr, &stamp) == 0) return std::nullopt;
  return stamp;
}
