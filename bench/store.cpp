// Loading, saving and looking up a synthetic database of a million files (paths of about
// 60 bytes, 900,000 distinct digests), against plain fread and fwrite of the same bytes
// measured in the same run. Prints times, ratios and the resident memory of the loaded
// database.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "database/format.h"
#include "database/mp3_db.h"

namespace {

constexpr uint32_t kFiles = 1000000;
constexpr uint32_t kDigests = 900000;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long status_kib(const char* field) {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long value = -1;
  size_t n = strlen(field);
  while (fgets(line, sizeof line, f) != nullptr)
    if (strncmp(line, field, n) == 0) value = atol(line + n + 1);
  fclose(f);
  return value;
}

// Restarts the peak (VmHWM) at the current resident size.
void reset_peak() {
  FILE* f = fopen("/proc/self/clear_refs", "w");
  if (f != nullptr) {
    fputs("5", f);
    fclose(f);
  }
}

std::string path_of(uint32_t i) {
  char buf[128];
  snprintf(buf, sizeof buf, "/home/listener/Music/Artist %04u/Album %03u/%02u Track %07u.mp3",
           i % 7919, i % 613, i % 23, i);
  return buf;
}

void put(std::vector<unsigned char>* out, uint32_t v) {
  unsigned char b[4];
  format::put_u32(b, v);
  out->insert(out->end(), b, b + 4);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp";
  std::string db = dir + "/bench-store-" + std::to_string(getpid()) + ".mp3db";
  std::string plain = db + ".plain";
  FILE* quiet = fopen("/dev/null", "w");
  mp3db_set_diagnostics(quiet);

  std::mt19937_64 rng(42);
  uint64_t path_bytes = 0;
  std::vector<unsigned char> bytes;
  {
    put(&bytes, format::kMagic);
    put(&bytes, kDigests);
    put(&bytes, kFiles);
    put(&bytes, format::kStampClosed);
    for (uint32_t i = 0; i < kDigests * 2; ++i) {
      uint64_t r = rng();
      bytes.insert(bytes.end(), reinterpret_cast<unsigned char*>(&r),
                   reinterpret_cast<unsigned char*>(&r) + 8);
    }
    for (uint32_t i = 0; i < kFiles; ++i) {
      std::string p = path_of(i);
      path_bytes += p.size();
      put(&bytes, i < kDigests ? i : static_cast<uint32_t>(rng() % kDigests));
      put(&bytes, 4000000 + i);
      put(&bytes, static_cast<uint32_t>(p.size()));
      bytes.insert(bytes.end(), p.begin(), p.end());
    }
  }
  printf("database: %u files, %u digests, %zu bytes, paths average %.1f bytes\n", kFiles, kDigests,
         bytes.size(), static_cast<double>(path_bytes) / kFiles);

  // Baselines: the same bytes written and read plainly.
  auto t = std::chrono::steady_clock::now();
  FILE* f = fopen(plain.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  double plain_write = seconds_since(t);
  t = std::chrono::steady_clock::now();
  f = fopen(db.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fflush(f);
  fsync(fileno(f));
  fclose(f);
  double plain_write_sync = seconds_since(t);
  size_t total = bytes.size();
  std::vector<unsigned char>().swap(bytes);

  t = std::chrono::steady_clock::now();
  f = fopen(plain.c_str(), "rb");
  auto* buffer = static_cast<unsigned char*>(malloc(total));
  size_t got = fread(buffer, 1, total, f);
  fclose(f);
  double plain_read = seconds_since(t);
  free(buffer);
  if (got != total) return 1;

  file_setdb(db.c_str());
  reset_peak();
  long rss0 = status_kib("VmRSS:");
  t = std::chrono::steady_clock::now();
  if (file_opendb() != 1) return 1;
  double open = seconds_since(t);
  long rss_loaded = status_kib("VmRSS:");
  long peak_loaded = status_kib("VmHWM:");

  // The first lookups build the path and digest indexes.
  t = std::chrono::steady_clock::now();
  unsigned char none[16] = {0};
  get_fileentrybyfilename("/nowhere");
  get_hashentry(none);
  double build = seconds_since(t);
  long rss_indexed = status_kib("VmRSS:");
  long peak_indexed = status_kib("VmHWM:");

  std::vector<uint32_t> order(kFiles);
  for (uint32_t i = 0; i < kFiles; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<std::string> paths(kFiles);
  for (uint32_t i = 0; i < kFiles; ++i) paths[i] = path_of(order[i]);
  std::vector<std::array<unsigned char, 16>> digests(kFiles);
  for (uint32_t i = 0; i < kFiles; ++i)
    memcpy(digests[i].data(), db_gethashentry(order[i] % kDigests), 16);

  t = std::chrono::steady_clock::now();
  long found = 0;
  for (uint32_t i = 0; i < kFiles; ++i) found += get_fileentrybyfilename(paths[i].c_str()) >= 0;
  double by_name = seconds_since(t);
  t = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < kFiles; ++i) found += get_hashentry(digests[i].data()) >= 0;
  double by_digest = seconds_since(t);
  if (found != 2L * kFiles) return 1;

  t = std::chrono::steady_clock::now();
  if (file_closedb() != 1) return 1;
  double close = seconds_since(t);

  printf("plain fread          %8.3f s\n", plain_read);
  printf("file_opendb          %8.3f s   ratio %.2f (target <= 3)\n", open, open / plain_read);
  printf("plain fwrite         %8.3f s\n", plain_write);
  printf("plain fwrite+fsync   %8.3f s\n", plain_write_sync);
  printf(
      "file_closedb         %8.3f s   ratio %.2f to fwrite, %.2f to fwrite+fsync (target <= 3)\n",
      close, close / plain_write, close / plain_write_sync);
  printf("index build          %8.3f s   (at the first lookup after a load)\n", build);
  printf("1M by filename       %8.3f s   (target < 1)\n", by_name);
  printf("1M by digest         %8.3f s   (target < 1)\n", by_digest);
  double per = 1024.0 / kFiles;
  double paths_per = static_cast<double>(path_bytes) / kFiles;
  printf(
      "loaded:  RSS +%.1f B/entry, peak +%.1f B/entry; beyond path bytes %.1f / %.1f (target < "
      "200)\n",
      (rss_loaded - rss0) * per, (peak_loaded - rss0) * per, (rss_loaded - rss0) * per - paths_per,
      (peak_loaded - rss0) * per - paths_per);
  printf(
      "indexed: RSS +%.1f B/entry, peak +%.1f B/entry; beyond path bytes %.1f / %.1f (target < "
      "200)\n",
      (rss_indexed - rss0) * per, (peak_indexed - rss0) * per,
      (rss_indexed - rss0) * per - paths_per, (peak_indexed - rss0) * per - paths_per);
  unlink(db.c_str());
  unlink(plain.c_str());
  return 0;
}
