// Messages on standard error and the reasons they give.
#include "cli/console.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/paths.h"
#include "cli/terminal_text.h"

namespace {

void write_message(const char* kind, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  if (on_terminal(STDERR_FILENO)) text = printable(text);
  fprintf(stderr, "varnelo-cli: %s%s\n", kind, text.c_str());
}

}  // namespace

void console::error(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  write_message("error: ", format, args);
  va_end(args);
}

void console::warning(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  write_message("warning: ", format, args);
  va_end(args);
}

void console::note(const char* format, ...) const {
  if (quiet_) return;
  va_list args;
  va_start(args, format);
  write_message("", format, args);
  va_end(args);
}

std::string console::shown(std::string_view name) const {
  return shown_name(STDERR_FILENO, name);
}

std::string reason_of(int error_number) { return strerror(error_number); }

std::string unreadable_reason(const std::string& path) {
  // Opened the way the library opens files: never blocking on a FIFO.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return reason_of(errno);
  struct stat st;
  std::string reason = "readable";
  if (fstat(fd, &st) != 0) {
    reason = reason_of(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = "is a folder";
  } else if (!S_ISREG(st.st_mode)) {
    reason = "not a regular file";
  } else if (st.st_size > INT_MAX) {
    reason = "larger than 2 GiB";
  }
  close(fd);
  return reason;
}
