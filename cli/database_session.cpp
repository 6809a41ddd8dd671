// Loading and saving the database of a run.
#include "cli/database_session.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <memory>

#include "database/mp3_db.h"

namespace {

// Offset and size of the header's stamp word in a database file (little-endian).
constexpr long kStampOffset = 12;
constexpr size_t kHeaderSize = 16;

struct file_closer {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

database_session::database_session(const std::string& name) { file_setdb(name.c_str()); }

database_session::~database_session() {
  // A run that saved nothing still releases what the store holds.
  file_unloaddb();
}

std::string database_session::path() const {
  const char* name = file_getdbname();
  return name != nullptr ? name : "";
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
  if (file_closedb() == 0) {
    int saved = errno;
    out.error("%s: cannot save the database: %s", path().c_str(),
              saved != 0 ? reason_of(saved).c_str() : "write failed");
    return false;
  }
  return true;
}

std::optional<uint32_t> database_session::stamp() const {
  std::unique_ptr<FILE, file_closer> f(fopen(path().c_str(), "rb"));
  if (!f) return std::nullopt;
  unsigned char header[kHeaderSize];
  if (fread(header, 1, kHeaderSize, f.get()) != kHeaderSize) return std::nullopt;
  const unsigned char* p = header + kStampOffset;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
