// search, digest and info: the commands that only read.
#include <stdio.h>
#include <stdlib.h>

#include <memory>

#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

namespace {

// md5sum's line for a name with a backslash or a line end: those are escaped and the
// line starts with a backslash, so that checkers read the name back exactly.
std::string md5sum_line(const std::string& hex, const std::string& name) {
  if (name.find_first_of("\\\n\r") == std::string::npos) return hex + "  " + name;
  std::string escaped;
  for (char c : name) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += c;
    }
  }
  return "\\" + hex + "  " + escaped;
}

}  // namespace

int run_search(const std::vector<std::string>& words, const console&) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  get_fileentriesbyname(text.c_str());
  for (int32_t index = get_fileentriesbyname(nullptr); index != -1;
       index = get_fileentriesbyname(nullptr)) {
    const fileentry* entry = db_getfileentry(index);
    if (entry == nullptr) continue;
    // Nobody reads the rest: the search, which reads each file's tag, stops here.
    if (!checked_output::print("%s\n", checked_output::shown(entry->filename).c_str())) {
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

int run_digest(const std::vector<std::string>& files, const console& out) {
  int status = kExitSuccess;
  for (const std::string& name : files) {
    mp3db_owned<unsigned char> digest(md5_hashfile_fast(name.c_str()));
    if (!digest) {
      std::string reason = unreadable_reason(name);
      if (reason == "readable") reason = "no audio content to digest";
      out.error("%s: cannot digest: %s", out.shown(name).c_str(), reason.c_str());
      status = kExitFailure;
      continue;
    }
    std::string hex = to_hex(digest.get(), 16);
    // On a terminal a name holding control characters is quoted as a shell reads it back
    // instead of md5sum's escapes, which leave an escape sequence as it is.
    std::string shown = checked_output::shown(name);
    std::string line = shown != name ? hex + "  " + shown : md5sum_line(hex, name);
    if (!checked_output::print("%s\n", line.c_str())) return kExitFailure;
  }
  return status;
}

int run_info(const database_session& session, const console&) {
  checked_output::print("database: %s\n", checked_output::shown(session.path()).c_str());
  checked_output::print("files: %u\n", file_getfilenum());
  checked_output::print("digests: %u\n", file_gethashnum());
  std::optional<uint32_t> stamp = session.stamp();
  if (stamp) {
    checked_output::print("stamp: %u\n", *stamp);
  } else {
    checked_output::print("stamp: none (%s)\n",
                          session.file_exists() ? "no complete header" : "no file yet");
  }
  return checked_output::ok() ? kExitSuccess : kExitFailure;
}
