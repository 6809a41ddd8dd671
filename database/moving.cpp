// Giving entries new paths (nothing moves on disk), joining texts, the debug log, and the
// placeholders whose answers are fixed.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "database/mp3_db.h"
#include "database/tables.h"
#include "platform/platform.h"

namespace {

constexpr const char* kDebugLog = "debug.txt";

}  // namespace

int file_move(int32_t index, const char* newpath) {
  if (db_getfileentry(static_cast<uint32_t>(index)) == nullptr) return 0;
  // An empty name could never be loaded back from the saved database, which would lose it all.
  if (newpath == nullptr || *newpath == '\0') return 0;
  tables::rename_file(static_cast<uint32_t>(index), stringcpy(newpath));
  return 1;
}

int file_movetodir(int32_t index, char* dir) {
  if (dir == nullptr) return 0;
  size_t dir_length = strlen(dir);
  while (dir_length > 0) {
    char c = dir[dir_length - 1];
    if (c != platform::kSeparator && c != ' ' && c != '\t') break;
    dir[--dir_length] = '\0';
  }
  const fileentry* entry = db_getfileentry(static_cast<uint32_t>(index));
  if (entry == nullptr) return 0;

  // The file-name part keeps its separator. A path without one is a bare file name, which
  // then goes under dir with a separator of its own.
  const char* name = strrchr(entry->filename, platform::kSeparator);
  const bool bare = name == nullptr;
  if (bare) name = entry->filename;
  const size_t name_length = strlen(name);
  const size_t length = dir_length + (bare ? 1 : 0) + name_length;
  auto* joined = static_cast<char*>(malloc(length + 1));
  if (joined == nullptr) return 0;
  memcpy(joined, dir, dir_length);
  if (bare) joined[dir_length] = platform::kSeparator;
  memcpy(joined + length - name_length, name, name_length);
  joined[length] = '\0';
  tables::rename_file(static_cast<uint32_t>(index), joined);
  return 1;
}

char* stringadd(char* text, const char* append) {
  if (text == nullptr || append == nullptr) return nullptr;
  const size_t text_length = strlen(text);
  const size_t append_length = strlen(append);
  // The text to append may lie inside the block that is about to move.
  const uintptr_t start = reinterpret_cast<uintptr_t>(text);
  const uintptr_t at = reinterpret_cast<uintptr_t>(append);
  const bool inside = at >= start && at <= start + text_length;
  const size_t offset = inside ? at - start : 0;
  auto* joined = static_cast<char*>(realloc(text, text_length + append_length + 1));
  if (joined == nullptr) return nullptr;
  memmove(joined + text_length, inside ? joined + offset : append, append_length);
  joined[text_length + append_length] = '\0';
  return joined;
}

void Debug_Print(const char* format, ...) {
  // The log is opened first, so it exists after every call, even one with nothing to write.
  std::unique_ptr<FILE, platform::file_closer> log(fopen(kDebugLog, "a+"));
  if (!log || format == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  // Measured first, so a message of any length is written whole.
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    const size_t size = static_cast<size_t>(length) + 1;
    mp3db_owned<char> message(static_cast<char*>(malloc(size)));
    if (message) {
      vsnprintf(message.get(), size, format, again);
      fwrite(message.get(), 1, size - 1, log.get());
    }
  }
  va_end(again);
}

int move_file(const char* path) { return fileexists(path); }
int move_filetodir() { return 1; }
int isdirectory() { return 0; }
int direxists() { return 0; }
int createdir() { return 0; }
