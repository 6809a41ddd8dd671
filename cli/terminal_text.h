// File names as a terminal shows them. A terminal acts on control characters instead of
// showing them (an escape sequence in a name recolours or retitles it), so on a terminal a
// name holding one is written quoted as a shell reads it back, as ls quotes: 'a'$'\033''b'.
// Anywhere else (a pipe, a file) names go out byte for byte.
#ifndef VARNELO_CLI_TERMINAL_TEXT_H_
#define VARNELO_CLI_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

// True when name holds a character a terminal acts on (C0 and C1 controls, DEL) or a byte
// that is not UTF-8, which a terminal in another encoding could take for a C1 control.
bool needs_quoting(std::string_view name);

// name as one shell word: what shows as it is inside '...', every other byte inside $'...'
// as \a \b \t \n \v \f \r or three octal digits (\033), a single quote as \'.
std::string shell_quoted(std::string_view name);

// True when the descriptor is a terminal (asked once for standard output and error).
bool on_terminal(int fd);

// name as written to the descriptor: quoted when it is a terminal and the name needs it.
std::string shown_name(int fd, std::string_view name);

#endif  // VARNELO_CLI_TERMINAL_TEXT_H_
