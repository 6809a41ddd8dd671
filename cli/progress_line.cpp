// The progress line of scan and verify.
#include "cli/progress_line.h"

#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "cli/paths.h"

namespace {

// The rate is taken over this last stretch, so that it follows the disk as it speeds up or
// slows down (a cold start, a folder of small files) without jumping at every file.
constexpr auto kRateSpan = std::chrono::seconds(5);
constexpr double kMegabyte = 1e6;

size_t terminal_width() {
  struct winsize ws = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

std::string megabytes(uint64_t bytes) {
  char text[32];
  const double mb = static_cast<double>(bytes) / kMegabyte;
  snprintf(text, sizeof text, mb < 10 ? "%.1f" : "%.0f", mb);
  return text;
}

std::string duration(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  if (s < 60) {
    snprintf(text, sizeof text, "%ld s", s);
  } else if (s < 3600) {
    snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  } else {
    snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

}  // namespace

std::string progress_text(const std::string& verb, const mp3db_walk_progress& p,
                          double bytes_per_second, double files_per_second,
                          const std::string& where, size_t width) {
  const char* more = p.counted ? "" : "+";
  std::string line = verb + ": " + std::to_string(p.files_done) + " of " +
                     std::to_string(p.files_total) + more + " files, " +
                     megabytes(p.bytes_done) + " of " + megabytes(p.bytes_total) + more + " MB";
  // While there are bytes to read, they set the pace; a walk through listed files only
  // has files.
  const bool by_bytes = p.bytes_total > p.bytes_done || bytes_per_second > 0;
  if (by_bytes && bytes_per_second >= 0) {
    line += ", " + megabytes(static_cast<uint64_t>(bytes_per_second)) + " MB/s";
  } else if (files_per_second >= 0) {
    line += ", " + std::to_string(std::lround(files_per_second)) + " files/s";
  }
  if (p.counted) {
    double left = -1;
    if (p.bytes_total > p.bytes_done && bytes_per_second > 0) {
      left = static_cast<double>(p.bytes_total - p.bytes_done) / bytes_per_second;
    } else if (p.files_total > p.files_done && files_per_second > 0 && !by_bytes) {
      left = static_cast<double>(p.files_total - p.files_done) / files_per_second;
    } else if (p.bytes_total <= p.bytes_done && p.files_total <= p.files_done) {
      left = 0;
    }
    if (left >= 0) line += ", " + duration(left) + " left";
  }
  // The place goes last, shortened from its start; the line never wraps, or the next
  // rewrite would leave it behind.
  const size_t fits = std::max<size_t>(width, 2) - 1;
  const std::string in = ", in ";
  if (!where.empty() && line.size() + in.size() + 4 <= fits) {
    std::string place = where;
    const size_t room = fits - line.size() - in.size();
    if (place.size() > room) place = "..." + place.substr(place.size() - (room - 3));
    line += in + place;
  }
  if (line.size() > fits) line.resize(fits);
  return line;
}

progress_line::progress_line(std::string verb, bool quiet)
    : verb_(std::move(verb)), quiet_(quiet), on_terminal_(isatty(STDERR_FILENO) == 1) {}

void progress_line::draw(clock::time_point now, const char* where) {
  mp3db_walk_progress p;
  mp3db_get_walk_progress(&p);
  samples_.push_back({now, p.bytes_done, p.files_done});
  while (samples_.size() > 2 && now - samples_[1].when >= kRateSpan) samples_.pop_front();
  double bytes_rate = -1, files_rate = -1;
  const std::chrono::duration<double> span = now - samples_.front().when;
  // Under half a second of history says little about the pace.
  if (span.count() >= 0.5) {
    bytes_rate = static_cast<double>(p.bytes_done - samples_.front().bytes) / span.count();
    files_rate = static_cast<double>(p.files_done - samples_.front().files) / span.count();
  }
  const std::string line = progress_text(verb_, p, bytes_rate, files_rate,
                                         where != nullptr ? printable(where) : "", terminal_width());
  fprintf(stderr, "\r\033[K%s", line.c_str());
  line_open_ = true;
}

void progress_line::write_plain(const std::string& text) {
  fprintf(stderr, "varnelo-cli: %s\n", printable(text).c_str());
}

void progress_line::finish() {
  if (line_open_) fputs("\r\033[K", stderr);
  line_open_ = false;
}
