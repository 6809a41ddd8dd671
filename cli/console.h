// What the command-line tool writes to standard error: errors, warnings and notes.
// Standard output carries only data, so every message of this program comes through here.
#ifndef VARNELO_CLI_CONSOLE_H_
#define VARNELO_CLI_CONSOLE_H_

#include <string>

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

 private:
  bool quiet_;
};

// The text of an errno value.
std::string reason_of(int error_number);
// Why path cannot be read as a regular file the way the library reads it (the system's
// reason, "not a regular file", or "larger than 2 GiB"); "readable" when it can.
std::string unreadable_reason(const std::string& path);

#endif  // VARNELO_CLI_CONSOLE_H_
