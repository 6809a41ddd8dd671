// Fuzzes moving an entry into a folder and joining texts on arbitrary texts, each result
// checked against a direct computation: the trimmed folder, the joined path, the lookups
// under the new and old paths, and the joined text, also when it appends part of itself.
//
// Input: folder, entry path and a text to append, separated by zero bytes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::check;

namespace {

std::string trimmed(std::string dir) {
  while (!dir.empty() && (dir.back() == '/' || dir.back() == ' ' || dir.back() == '\t'))
    dir.pop_back();
  return dir;
}

std::string name_part(const std::string& path) {
  size_t at = path.rfind('/');
  return at == std::string::npos ? "/" + path : path.substr(at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = fuzz_support::split_at_nul(data, size, 3);
  parts.resize(3);
  const std::string& dir = parts[0];
  const std::string path = parts[1].empty() ? "x" : parts[1];
  const std::string& append = parts[2];

  tables::clear();
  auto* e = static_cast<fileentry*>(malloc(sizeof(fileentry)));
  *e = {0, 7, stringcpy(path.c_str())};
  tables::append_file(e);

  // Out of range: nothing changes, but the folder is trimmed all the same.
  std::string text = dir;
  check(file_movetodir(1, text.data()) == 0, "moved a missing entry");
  check(text.c_str() == trimmed(dir), "folder not trimmed for a missing entry");

  text = dir;
  check(file_movetodir(0, text.data()) == 1, "move refused");
  check(text.c_str() == trimmed(dir), "folder trimmed wrongly");
  const std::string moved = trimmed(dir) + name_part(path);
  const fileentry* entry = db_getfileentry(0);
  check(entry->filename == moved, "joined path differs");
  check(entry->hashid == 0 && entry->filesize == 7, "entry changed beyond its path");
  check(get_fileentrybyfilename(moved.c_str()) == 0, "not found under the new path");
  if (moved != path) check(get_fileentrybyfilename(path.c_str()) == -1, "found under old path");

  check(file_move(0, append.c_str()) == (append.empty() ? 0 : 1), "file_move result");
  check(db_getfileentry(0)->filename == (append.empty() ? moved : append), "file_move path");
  tables::clear();

  // Joining, then joining a text with a tail of itself.
  char* joined = stringadd(stringcpy(dir.c_str()), append.c_str());
  check(joined != nullptr && joined == dir + append, "joined text differs");
  const std::string before = joined;
  const size_t offset = size % (before.size() + 1);
  joined = stringadd(joined, joined + offset);
  check(joined != nullptr && joined == before + before.substr(offset), "self join differs");
  free(joined);
  return 0;
}
