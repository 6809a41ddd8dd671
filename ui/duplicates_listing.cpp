// Grouping by digest with a counting pass and a placing pass over the file table, instead of
// one pass per digest: the same groups, order and statistics in time linear in the files.
#include "ui/duplicates_listing.h"

#include <stdarg.h>
#include <stdio.h>

#include <charconv>

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

std::string group_label(int32_t files, const unsigned char d[16]) {
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
  const uint32_t hashnum = file_gethashnum();
  const uint32_t filenum = file_getfilenum();
  out.hashnum = hashnum;

  // Pass 1: files per digest and each digest's whole megabytes, split into the first file
  // (lowest index) and the rest, which are the duplicates.
  std::vector<uint32_t> count(hashnum, 0);
  std::vector<uint32_t> first_mb(hashnum, 0), rest_mb(hashnum, 0);
  for (uint32_t k = 0; k < filenum; ++k) {
    const fileentry* f = db_getfileentry(k);
    if (f == nullptr || f->hashid < 0 || static_cast<uint32_t>(f->hashid) >= hashnum) continue;
    const uint32_t h = static_cast<uint32_t>(f->hashid);
    (count[h]++ == 0 ? first_mb[h] : rest_mb[h]) += whole_megabytes(f->filesize);
  }

  // Groups in ascending digest order, with their places in the grouped file list. Sums are
  // kept unsigned so that an absurd total wraps like the 32-bit counters instead of overflowing.
  uint32_t duplicates = 0, duplicate_mb = 0, total_mb = 0;
  std::vector<uint32_t> place(hashnum, 0);
  uint32_t listed = 0;
  for (uint32_t i = 0; i < hashnum; ++i) {
    if (count[i] == 1) total_mb += first_mb[i];
    if (count[i] < 2) continue;
    const unsigned char* digest = db_gethashentry(i);
    if (digest == nullptr) {
      out.missing_digests.push_back(static_cast<int32_t>(i));
      continue;
    }
    duplicate_group g{static_cast<int32_t>(i), {}, listed, count[i]};
    for (int b = 0; b < 16; ++b) g.digest[b] = digest[b];
    out.groups.push_back(g);
    place[i] = listed;
    listed += count[i];
    duplicates += count[i] - 1;
    duplicate_mb += rest_mb[i];
    total_mb += first_mb[i] + rest_mb[i];
    out.progress_middle = format("duplicates till now: %d", static_cast<int32_t>(duplicates));
    out.progress_upper = hash_progress_text(i, hashnum);
  }

  // Pass 2: each grouped file into its group's next place, so every group is in index order.
  out.files.resize(listed);
  for (uint32_t k = 0; k < filenum; ++k) {
    const fileentry* f = db_getfileentry(k);
    if (f == nullptr || f->hashid < 0 || static_cast<uint32_t>(f->hashid) >= hashnum) continue;
    const uint32_t h = static_cast<uint32_t>(f->hashid);
    if (count[h] >= 2 && db_gethashentry(h) != nullptr) out.files[place[h]++] = k;
  }

  out.duplicates = static_cast<int32_t>(duplicates);
  out.duplicate_mb = static_cast<int32_t>(duplicate_mb);
  out.total_mb = static_cast<int32_t>(total_mb);
  return out;
}
