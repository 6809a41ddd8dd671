// The fields of the ID3v1 tag, the last 128 bytes of an MP3 file: its title, and whether
// the tag is there at all.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "platform/platform.h"

namespace {

constexpr long kTagLength = 128;
constexpr size_t kTitleOffset = 3;
constexpr size_t kTitleLength = 30;

}  // namespace

char* id3_gettitle(const char* path) {
  db_print("reading id3 title\n");
  platform::unique_file f = platform::open_regular(path);
  if (!f) return nullptr;
  // In a file shorter than the tag the seek fails, the position stays at the start and the
  // read below comes up short.
  (void)fseek(f.get(), -kTagLength, SEEK_END);
  unsigned char tag[kTagLength] = {};
  if (fread(tag, kTagLength, 1, f.get()) != 1) return nullptr;
  if (memcmp(tag, "TAG", 3) != 0) return nullptr;
  db_print("id3 tag found\n");

  auto* title = static_cast<char*>(malloc(kTitleLength + 1));
  if (title == nullptr) return nullptr;
  db_print("malloc'ed\n");
  memset(title, 0, kTitleLength + 1);
  db_print("memset'ed\n");
  // The field need not be terminated; the last byte of title stays zero whatever it holds.
  const char* field = reinterpret_cast<const char*>(tag + kTitleOffset);
  memcpy(title, field, strnlen(field, kTitleLength));
  db_print("title:[%s]\n", title);
  return title;
}

// Both answer only whether the tag is there, exactly as the content digest's probe does.
int id3_getartist(const char* path) { return checktagid3(path); }
int id3_getalbum(const char* path) { return checktagid3(path); }
