// Paths as the tool hands them to the database, and how they are shown.
#ifndef VARNELO_CLI_PATHS_H_
#define VARNELO_CLI_PATHS_H_

#include <string>

// The full path of a path given on the command line: relative paths are joined to the
// current folder, and "." parts and repeated or trailing separators are dropped. ".." is
// kept, since a folder link would make dropping it name another place. The database
// stores full paths (as the window does), so entries stay valid from any folder.
std::string full_path(const std::string& given);

// True when path lies inside folder (both full paths), at any depth.
bool is_under(const std::string& path, const std::string& folder);

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(const std::string& text);

// Lower-case hexadecimal of n bytes.
std::string to_hex(const unsigned char* bytes, size_t n);

// Text for a line on a terminal: control characters (a newline in a file name) become '?'.
std::string printable(const std::string& text);

#endif  // VARNELO_CLI_PATHS_H_
