// Reading the library's diagnostic lines through a stream of this tool's own.
#include "cli/library_messages.h"

#include <unistd.h>

#include "cli/paths.h"
#include "cli/terminal_text.h"
#include "database/mp3_db.h"

namespace {

// The library's texts this tool turns into its own messages.
constexpr std::string_view kUnreadableDatabase = "unreadable database ";
constexpr std::string_view kMovedTo = " moved to ";
constexpr std::string_view kNotMovedAside = "cannot move unreadable database ";
constexpr std::string_view kNotMovedAsideEnd = " aside; not written";

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// On a terminal, each line of the library's text with its control characters shown as '?'
// and its own line ends kept.
std::string for_standard_error(std::string_view message) {
  if (!on_terminal(STDERR_FILENO)) return std::string(message);
  std::string out;
  size_t pos = 0;
  while (pos < message.size()) {
    size_t end = message.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = message.size();
    out += printable(message.substr(pos, end - pos));
    if (end < message.size()) out += message[end];
    pos = end + 1;
  }
  return out;
}

}  // namespace

library_messages::library_messages(const console& out, bool verbose)
    : out_(out), verbose_(verbose) {
  cookie_io_functions_t functions = {nullptr, &library_messages::on_write, nullptr, nullptr};
  sink_ = fopencookie(this, "w", functions);
  if (sink_ == nullptr) {
    // Without a stream of its own the lines still stay off standard output.
    mp3db_set_diagnostics(stderr);
    return;
  }
  // Unbuffered, the C library formats each line whole and hands it over in one write, so a
  // file name holding a line end still arrives inside its message.
  setvbuf(sink_, nullptr, _IONBF, 0);
  mp3db_set_diagnostics(sink_);
}

library_messages::~library_messages() {
  mp3db_set_diagnostics(nullptr);
  if (sink_ != nullptr) fclose(sink_);
  if (!pending_.empty()) on_message(pending_);
}

ssize_t library_messages::on_write(void* cookie, const char* bytes, size_t size) {
  auto* self = static_cast<library_messages*>(cookie);
  self->pending_.append(bytes, size);
  // A progress line ends in a carriage return and is a message of its own.
  char last = self->pending_.empty() ? '\0' : self->pending_.back();
  if (last == '\n' || last == '\r') {
    std::string message;
    message.swap(self->pending_);
    self->on_message(message);
  }
  return static_cast<ssize_t>(size);
}

void library_messages::on_message(std::string_view message) {
  if (verbose_) {
    std::string text = for_standard_error(message);
    fwrite(text.data(), 1, text.size(), stderr);
  }
  std::string_view line = message;
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);

  if (starts_with(line, kUnreadableDatabase)) {
    // "unreadable database PATH moved to PATH.unreadable[.N]": the second path starts with
    // the first, which tells where the first ends even when a name holds " moved to ".
    std::string_view rest = line.substr(kUnreadableDatabase.size());
    for (size_t at = rest.find(kMovedTo); at != std::string_view::npos;
         at = rest.find(kMovedTo, at + 1)) {
      std::string_view path = rest.substr(0, at);
      std::string_view aside = rest.substr(at + kMovedTo.size());
      if (starts_with(aside, path)) {
        out_.warning("unreadable database %s moved to %s", out_.shown(path).c_str(),
                     out_.shown(aside).c_str());
        return;
      }
    }
    out_.warning("%s", std::string(line).c_str());
  } else if (starts_with(line, kNotMovedAside) && line.size() >= kNotMovedAsideEnd.size() &&
             line.substr(line.size() - kNotMovedAsideEnd.size()) == kNotMovedAsideEnd) {
    std::string_view path = line.substr(
        kNotMovedAside.size(), line.size() - kNotMovedAside.size() - kNotMovedAsideEnd.size());
    out_.error("cannot move unreadable database %s aside; not written", out_.shown(path).c_str());
  }
}

