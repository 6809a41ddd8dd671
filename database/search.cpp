// Title search: entries whose full path, or whose ID3v1 title, holds every word of a
// search string, letter case of A-Z aside. One search at a time, walked one match per call.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "database/diagnostics.h"
#include "database/mp3_db.h"
#include "database/tables.h"

namespace {

constexpr const char* kSeparators = "* ";

// Only A-Z fold; bytes beyond ASCII (accented letters of any code page) must be equal.
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool contains_folded(const char* text, const char* word) {
  const char* text_end = text + strlen(text);
  const char* word_end = word + strlen(word);
  return std::search(text, text_end, word, word_end,
                     [](char a, char b) { return fold(a) == fold(b); }) != text_end ||
         word == word_end;
}

}  // namespace

char** tokenize_searchstring(char* text) {
  size_t count = 0;
  size_t capacity = 1;
  auto** words = static_cast<char**>(malloc(capacity * sizeof(char*)));
  if (words == nullptr) return nullptr;
  char* rest = text;
  while (rest != nullptr) {
    rest += strspn(rest, kSeparators);
    if (*rest == '\0') break;
    char* word = rest;
    rest += strcspn(rest, kSeparators);
    if (*rest != '\0') *rest++ = '\0';
    // Always room for the word and the null that ends the table.
    if (count + 2 > capacity) {
      capacity *= 2;
      auto** grown = static_cast<char**>(realloc(words, capacity * sizeof(char*)));
      if (grown == nullptr) {
        free(words);
        return nullptr;
      }
      words = grown;
    }
    words[count] = word;
    db_print("token[%d]:%s\n", static_cast<int>(count), word);
    ++count;
  }
  words[count] = nullptr;
  db_print("%d search tokens found!\n", static_cast<int>(count));
  return words;
}

int search_in_string(char** tokens, const char* text) {
  if (tokens == nullptr) return 1;
  if (text == nullptr) text = "";
  // Every word is tested, even after a miss, as the count of hits decides.
  size_t words = 0;
  size_t found = 0;
  for (char** t = tokens; *t != nullptr; ++t) {
    ++words;
    if (contains_folded(text, *t)) ++found;
  }
  return found == words ? 1 : 0;
}

int32_t get_fileentriesbyname(const char* searchstring) {
  // The words point into dupe, so the two are only ever replaced together.
  static mp3db_owned<char> dupe;
  static mp3db_owned<char*> tokens;
  static uint32_t i = 0;

  if (searchstring != nullptr) {
    i = 0;
    tokens.reset();
    dupe.reset(stringcpy(searchstring));
    tokens.reset(tokenize_searchstring(dupe.get()));
    return -1;
  }
  // Before any search string there are no words to look for: the walk is over at once.
  if (!tokens) return -1;

  while (i < tables::filenum()) {
    const uint32_t index = i++;
    const char* path = tables::file_at(index)->filename;
    // The title is read first so that its lines appear for every entry examined.
    mp3db_owned<char> title(id3_gettitle(path));
    if (search_in_string(tokens.get(), path)) return static_cast<int32_t>(index);
    if (title) {
      db_print("searching in id3-title:%s\n", title.get());
      if (search_in_string(tokens.get(), title.get())) return static_cast<int32_t>(index);
    }
  }
  i = 0;
  return -1;
}
