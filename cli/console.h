// What the command-line tool writes to standard error: errors, warnings and notes.
// Standard output carries only data, so every message of this program comes through here.
#ifndef VARNELO_CLI_CONSOLE_H_
#define VARNELO_CLI_CONSOLE_H_

#include <string>
#include <string_view>

class console {
 public:
  explicit console(bool quiet) : quiet_(quiet) {}

  bool quiet() const { return quiet_; }
  // "varnelo-cli: error: ..." and a line end; always written.
  void error(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // "varnelo-cli: warning: ..." and a line end; always written.
  void warning(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // "varnelo-cli: ..." and a line end; left out with --quiet.
  void note(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  // A file name for a message: quoted as a shell reads it back when standard error is a
  // terminal and the name holds a control character, else its exact bytes. On a terminal,
  // any control character left in a message (a name passed without this) is shown as '?'.
  std::string shown(std::string_view name) const;

 private:
  bool quiet_;
};

// The text of an errno value.
std::string reason_of(int error_number);
// Why path cannot be read as a regular file the way the library reads it (the system's
// reason, "not a regular file", or "larger than 2 GiB"); "readable" when it can.
std::string unreadable_reason(const std::string& path);

#endif  // VARNELO_CLI_CONSOLE_H_
