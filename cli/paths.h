// Paths as the tool hands them to the database, and how they are shown.
#ifndef VARNELO_CLI_PATHS_H_
#define VARNELO_CLI_PATHS_H_

#include <stddef.h>

#include <string>
#include <string_view>

// The full path of a path given on the command line: relative paths are joined to the
// current folder, and "." parts and repeated or trailing separators are dropped. ".." is
// kept, since a folder link would make dropping it name another place. The database
// stores full paths (as the window does), so entries stay valid from any folder.
std::string full_path(const std::string& given);

// The canonical path of a file or folder given on the command line: its real path (links,
// "." and ".." resolved), so that every spelling of one file gives one path; for a file that
// is gone, its folder's real path and its name; the full path when neither resolves.
std::string canonical_path(const std::string& given);

// The length in bytes of the well-formed UTF-8 character at text[pos] (pos < text.size()),
// or 0 when the byte there starts none (no overlong forms, surrogates or values past U+10FFFF).
size_t utf8_char_length(std::string_view text, size_t pos);
// True when text is well-formed UTF-8.
bool is_valid_utf8(const std::string& text);
// True when the character of length bytes at text[pos] is one a terminal acts on rather
// than shows: a C0 control (ESC, a line end), DEL, or a C1 control (U+0080 to U+009F).
bool is_terminal_control(std::string_view text, size_t pos, size_t length);

// Lower-case hexadecimal of n bytes.
std::string to_hex(const unsigned char* bytes, size_t n);

// Text for a line on a terminal: each control character (a newline in a file name, ESC) and
// each byte that is not UTF-8 becomes '?'.
std::string printable(std::string_view text);

#endif  // VARNELO_CLI_PATHS_H_
