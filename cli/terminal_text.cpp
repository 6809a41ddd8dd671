// Quoting file names for a terminal.
#include "cli/terminal_text.h"

#include <unistd.h>

#include "cli/paths.h"

namespace {

// The escape inside $'...' of one byte that is not shown as it is.
void append_escaped(std::string& out, unsigned char c) {
  static const char kLetters[] = "abtnvfr";  // bytes 7 to 13
  out += '\\';
  if (c >= 7 && c <= 13) {
    out += kLetters[c - 7];
    return;
  }
  out += static_cast<char>('0' + (c >> 6));
  out += static_cast<char>('0' + ((c >> 3) & 7));
  out += static_cast<char>('0' + (c & 7));
}

}  // namespace

bool needs_quoting(std::string_view name) {
  for (size_t i = 0; i < name.size();) {
    size_t length = utf8_char_length(name, i);
    if (length == 0 || is_terminal_control(name, i, length)) return true;
    i += length;
  }
  return false;
}

std::string shell_quoted(std::string_view name) {
  enum class quote { none, plain, dollar };
  std::string out;
  quote open = quote::none;
  auto enter = [&](quote wanted) {
    if (open == wanted) return;
    if (open != quote::none) out += '\'';
    out += wanted == quote::plain ? "'" : "$'";
    open = wanted;
  };
  for (size_t i = 0; i < name.size();) {
    size_t length = utf8_char_length(name, i);
    if (length == 0 || is_terminal_control(name, i, length)) {
      enter(quote::dollar);
      size_t bytes = length == 0 ? 1 : length;
      for (size_t k = 0; k < bytes; ++k)
        append_escaped(out, static_cast<unsigned char>(name[i + k]));
      i += bytes;
    } else if (name[i] == '\'') {
      if (open != quote::none) out += '\'';
      open = quote::none;
      out += "\\'";
      ++i;
    } else {
      enter(quote::plain);
      out.append(name, i, length);
      i += length;
    }
  }
  if (open != quote::none) out += '\'';
  return out.empty() ? "''" : out;
}

bool on_terminal(int fd) {
  static const bool out = isatty(STDOUT_FILENO) == 1;
  static const bool err = isatty(STDERR_FILENO) == 1;
  if (fd == STDOUT_FILENO) return out;
  if (fd == STDERR_FILENO) return err;
  return isatty(fd) == 1;
}

std::string shown_name(int fd, std::string_view name) {
  if (on_terminal(fd) && needs_quoting(name)) return shell_quoted(name);
  return std::string(name);
}
