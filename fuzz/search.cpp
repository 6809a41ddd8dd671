// Fuzzes the title search on arbitrary texts: splitting a search string into words,
// matching words against a text, and a whole search walk over a small table. Each result
// is checked against a direct computation on the same bytes.
//
// Input: the search string, then up to three entry paths, separated by zero bytes.
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

// Entries live under a folder that does not exist, so no file is ever opened whatever
// the path says ("/.." cannot climb out of a missing folder).
constexpr const char* kNowhere = "/varnelo-fuzz-nowhere/";

bool separator(char c) { return c == '*' || c == ' '; }

std::vector<std::string> expected_words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (separator(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::string folded(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool expected_match(const std::vector<std::string>& words, const std::string& text) {
  for (const std::string& w : words)
    if (folded(text).find(folded(w)) == std::string::npos) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* quiet = [] {
    FILE* f = fopen("/dev/null", "w");
    mp3db_set_diagnostics(f);
    return f;
  }();
  (void)quiet;

  std::vector<std::string> parts = fuzz_support::split_at_nul(data, size, 4);
  const std::string& query = parts[0];
  const std::vector<std::string> words = expected_words(query);

  // Splitting: the words in order, cut in place inside the text given.
  std::string buffer = query;
  char** tokens = tokenize_searchstring(buffer.data());
  check(tokens != nullptr, "no word table");
  size_t n = 0;
  const char* previous_end = buffer.data();
  for (; tokens[n] != nullptr; ++n) {
    check(n < words.size(), "too many words");
    check(tokens[n] == words[n], "word differs");
    check(tokens[n] >= previous_end && tokens[n] < buffer.data() + buffer.size(),
          "word outside the text or out of order");
    previous_end = tokens[n] + strlen(tokens[n]);
  }
  check(n == words.size(), "too few words");

  // Matching: against every other part, leaving words and text untouched.
  for (size_t p = 1; p < parts.size(); ++p) {
    const std::string text = parts[p];
    check(search_in_string(tokens, parts[p].c_str()) == (expected_match(words, text) ? 1 : 0),
          "match differs");
    check(parts[p] == text, "text changed");
  }
  for (size_t i = 0; i < n; ++i) check(tokens[i] == words[i], "word changed");
  free(tokens);

  // A search walk: the matching entries in table order, and again after the end.
  tables::clear();
  std::vector<int32_t> expected;
  for (size_t p = 1; p < parts.size(); ++p) {
    const std::string path = kNowhere + parts[p];
    auto* e = static_cast<fileentry*>(malloc(sizeof(fileentry)));
    *e = {0, 0, stringcpy(path.c_str())};
    tables::append_file(e);
    if (expected_match(words, path)) expected.push_back(static_cast<int32_t>(p - 1));
  }
  check(get_fileentriesbyname(query.c_str()) == -1, "starting a search gave an index");
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<int32_t> found;
    for (int32_t i; (i = get_fileentriesbyname(nullptr)) != -1;) {
      found.push_back(i);
      check(found.size() <= 3, "walk does not end");
    }
    check(found == expected, "walk differs");
  }
  tables::clear();
  return 0;
}
