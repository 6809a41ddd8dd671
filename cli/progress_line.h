// The progress of a long command (scan, verify) on standard error. On a terminal one line
// rewrites itself: files and bytes done of the totals the library counted, the rate, the
// time left, and where the command is. Anywhere else (a log, a pipe) a plain line of the
// command's own is written now and then, so logs stay readable.
#ifndef VARNELO_CLI_PROGRESS_LINE_H_
#define VARNELO_CLI_PROGRESS_LINE_H_

#include <stdint.h>

#include <chrono>
#include <deque>
#include <string>

#include "database/mp3_db.h"

// The terminal line's text for progress p: verb ("scanning"), files and bytes done of the
// totals ("+" after a total still being counted), the rate (bytes_per_second, or
// files_per_second while there is nothing to read; negative: not known yet), the time left
// once the totals are final, and where, shortened from its start to fit width columns.
std::string progress_text(const std::string& verb, const mp3db_walk_progress& p,
                          double bytes_per_second, double files_per_second,
                          const std::string& where, size_t width);

class progress_line {
 public:
  using clock = std::chrono::steady_clock;

  // verb names what is done ("scanning"). quiet: nothing is ever shown.
  progress_line(std::string verb, bool quiet);

  // True when the rewritten line is shown, which wants the library's counted totals.
  bool on_terminal() const { return !quiet_ && on_terminal_; }

  // Called as often as the work goes on. On a terminal the line is drawn at most ten times
  // a second, ending with where; elsewhere plain() gives a line of its own once a second.
  template <typename Plain>
  void tick(const char* where, Plain plain) {
    if (quiet_) return;
    const clock::time_point now = clock::now();
    if (now - last_ < (on_terminal_ ? std::chrono::milliseconds(100) : std::chrono::seconds(1)))
      return;
    last_ = now;
    if (on_terminal_) {
      draw(now, where);
    } else {
      write_plain(plain());
    }
  }

  // Ends the rewritten line before any other message.
  void finish();

 private:
  struct sample {
    clock::time_point when;
    uint64_t bytes;
    uint64_t files;
  };
  void draw(clock::time_point now, const char* where);
  static void write_plain(const std::string& text);

  std::string verb_;
  bool quiet_;
  bool on_terminal_;
  bool line_open_ = false;
  clock::time_point last_{};
  std::deque<sample> samples_;  // the last few seconds, for the rate
};

#endif  // VARNELO_CLI_PROGRESS_LINE_H_
