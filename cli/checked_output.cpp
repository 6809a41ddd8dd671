// Writes to standard output that remember their first failure.
#include "cli/checked_output.h"

#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/terminal_text.h"

namespace {

int g_failure = 0;  // errno of the first failed write, 0 while none
bool g_reported = false;
bool g_closed = false;

// Keeps the reason of the first failure (errno right after the failed call, which the caller
// reads only after making it): later failures are consequences of it.
bool remember(bool failed) {
  if (failed && g_failure == 0) g_failure = errno != 0 ? errno : EIO;
  return g_failure == 0;
}

bool reader_gone() {
  struct stat st;
  if (fstat(STDOUT_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    return false;
  }
  // The writing end of a pipe polls as an error once no reader is left.
  struct pollfd p = {STDOUT_FILENO, POLLOUT, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace

namespace checked_output {

bool print(const char* format, ...) {
  if (g_failure != 0 || g_closed) return false;
  va_list args;
  va_start(args, format);
  errno = 0;
  int written = vfprintf(stdout, format, args);
  va_end(args);
  return remember(written < 0);
}

bool write(std::string_view bytes) {
  if (g_failure != 0 || g_closed) return false;
  errno = 0;
  size_t written = fwrite(bytes.data(), 1, bytes.size(), stdout);
  return remember(written != bytes.size());
}

bool flush() {
  if (g_failure != 0 || g_closed) return false;
  errno = 0;
  bool failed = fflush(stdout) != 0 || ferror(stdout);
  return remember(failed);
}

bool still_heard() {
  if (!flush()) return false;
  if (!reader_gone()) return true;
  errno = EPIPE;
  return remember(true);
}

bool ok() { return g_failure == 0 && !g_closed; }

std::string shown(std::string_view name) { return shown_name(STDOUT_FILENO, name); }

void report(const console& out) {
  if (g_failure == 0 || g_reported) return;
  g_reported = true;
  out.error("cannot write to standard output: %s", reason_of(g_failure).c_str());
}

bool close(const console& out) {
  if (!g_closed) {
    // ferror also catches writes made outside these functions (the help, through std::cout).
    errno = 0;
    bool failed = fflush(stdout) != 0 || ferror(stdout);
    remember(failed);
    errno = 0;
    // The close can report what the flush could not (a network file system's write error).
    // EBADF means standard output was never open; anything written to it failed already.
    failed = fclose(stdout) != 0 && errno != EBADF;
    remember(failed);
    g_closed = true;
  }
  report(out);
  return g_failure == 0;
}

}  // namespace checked_output
