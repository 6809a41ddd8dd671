// The listing from the cleanup library's grouping by digest (one pass over the file table
// instead of one per digest), with the view's 32-bit figures and texts.
#include "ui/duplicates_listing.h"

#include <stdarg.h>
#include <stdio.h>

#include <charconv>

#include "cleanup/groups.h"

namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char* fmt, ...) {
  std::string text(256, '\0');
  for (;;) {
    va_list args;
    va_start(args, fmt);
    int n = vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < text.size()) {
      text.resize(static_cast<size_t>(n));
      return text;
    }
    text.assign(static_cast<size_t>(n) + 1, '\0');
  }
}

}  // namespace

std::string group_label(int32_t files, const cleanup::digest_bytes& d) {
  return format("%d Files with Hash digest: "
                "%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x",
                files, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11],
                d[12], d[13], d[14], d[15]);
}

std::string file_label(const fileentry& file) {
  return format("Filesize:%d - Filename: %s ", static_cast<int32_t>(file.filesize),
                file.filename);
}

std::string hash_progress_text(uint32_t index, uint32_t hashnum) {
  // Single-precision quotient, then a double product with 100.0, printed with six decimals;
  // to_chars keeps the decimal point whatever the user's locale says.
  double percent = static_cast<float>(index) / static_cast<float>(hashnum) * 100.0;
  char digits[64];
  auto end = std::to_chars(digits, digits + sizeof digits, percent, std::chars_format::fixed, 6);
  return format("Hash Entries: %d of %d  ", static_cast<int32_t>(index),
                static_cast<int32_t>(hashnum)) +
         std::string(digits, end.ptr) + " % finished";
}

std::string summary_middle_text(int32_t duplicates, int32_t duplicate_mb) {
  return format("found %d duplicates in DB! Which take %d MB of space.", duplicates, duplicate_mb);
}

std::string summary_upper_text(uint32_t files, int32_t total_mb) {
  return format("Files in DB : %d Mp3s ,Size of all Mp3s together : %d MB",
                static_cast<int32_t>(files), total_mb);
}

duplicate_listing list_duplicates() {
  duplicate_listing out;
  out.grouped = cleanup::group_by_digest();
  // The view's counters are 32-bit and wrap as they always did.
  const cleanup::group_statistics& s = out.grouped.statistics;
  out.duplicates = static_cast<int32_t>(static_cast<uint32_t>(s.duplicates));
  out.duplicate_mb = static_cast<int32_t>(static_cast<uint32_t>(s.duplicate_mb));
  out.total_mb = static_cast<int32_t>(static_cast<uint32_t>(s.total_mb));
  // The progress pair of the last group: by then every duplicate is counted.
  if (!out.grouped.groups.empty()) {
    out.progress_middle = format("duplicates till now: %d", out.duplicates);
    out.progress_upper = hash_progress_text(
        static_cast<uint32_t>(out.grouped.groups.back().hashid), out.grouped.hashnum);
  }
  return out;
}
