// Throughput of the project's MD5 against coreutils md5sum over the same 256 MiB, measured
// in the same run, with openssl's assembly figure beside them when openssl is installed;
// and the multi-lane digest's aggregate over the same bytes taken as 64 messages of 4 MiB.
//
// Run: cmake --build build --target bench_md5 && build/bench/bench_md5
// (a Release or RelWithDebInfo build; TMPDIR chooses where the 256 MiB temporary file goes).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "digest/md5_lanes.h"
#include "tests/support/process_output.h"

namespace {

using testing_support::command_output;

constexpr size_t kBytes = size_t{256} << 20;
constexpr int kRuns = 5;
constexpr size_t kMessages = 64;  // the multi-lane rows digest the bytes as this many messages

// The multi-lane paths, each timed where the processor has it.
struct lanes_row {
  md5_lanes_path path;
  const char* name;
  double seconds;
};

// CPU seconds (user + system) spent so far by this process or by its waited-for children.
// CPU time rather than wall-clock time, as openssl speed measures, so that other work on a
// shared machine does not count against either side.
double cpu_seconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double mb_per_s(size_t bytes, double seconds) { return static_cast<double>(bytes) / seconds / 1e6; }

std::string hex(const uint8_t* d) {
  char out[33];
  for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

// The temporary copy of the bytes for md5sum; removed when the benchmark ends.
struct temp_file {
  std::string path;
  ~temp_file() {
    if (!path.empty()) unlink(path.c_str());
  }
};

// openssl's MD5 throughput in MB/s for 16 KiB blocks, or 0 when openssl is missing.
double openssl_mb_per_s() {
  std::string out = command_output("openssl speed -seconds 1 -bytes 16384 -evp md5 2>/dev/null");
  // The result line reads "md5   762871.81k", in thousands of bytes per second.
  size_t at = out.rfind("\nmd5");
  if (at == std::string::npos) return 0;
  double kbytes = 0;
  if (sscanf(out.c_str() + at + 4, "%lfk", &kbytes) != 1) return 0;
  return kbytes / 1000.0;
}

}  // namespace

int main() {
  std::vector<uint8_t> data(kBytes);
  uint64_t x = 0x9e3779b97f4a7c15u;
  for (size_t i = 0; i < kBytes; i += 8) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    memcpy(&data[i], &x, 8);
  }

  temp_file file;
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/bench-md5-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) {
    fprintf(stderr, "bench_md5: cannot create %s\n", pattern.c_str());
    return 1;
  }
  file.path = pattern;
  bool written = write(fd, data.data(), kBytes) == static_cast<ssize_t>(kBytes);
  close(fd);
  if (!written) {
    fprintf(stderr, "bench_md5: cannot write %s\n", file.path.c_str());
    return 1;
  }

  // The first md5sum warms the page cache so that every timed run reads from memory. The
  // three contenders take turns so that they share whatever else the machine is doing.
  const std::string command = "md5sum '" + file.path + "'";
  std::string listed = command_output(command);
  uint8_t digest[16];
  double own = 1e9, coreutils = 1e9, openssl = 0;
  std::vector<md5_lanes_message> messages;
  for (size_t i = 0; i < kMessages; ++i) {
    messages.push_back({data.data() + i * (kBytes / kMessages), kBytes / kMessages});
  }
  lanes_row rows[] = {{md5_lanes_scalar, "multi-lane, portable", 1e9},
                      {md5_lanes_avx2, "multi-lane, AVX2", 1e9},
                      {md5_lanes_avx512, "multi-lane, AVX-512", 1e9}};
  std::vector<uint8_t> lane_digests(16 * kMessages);
  bool lanes_agree = true;
  for (int run = 0; run < kRuns; ++run) {
    for (lanes_row& row : rows) {
      if (!md5_lanes_available(row.path)) continue;
      double start = cpu_seconds(RUSAGE_SELF);
      md5_lanes_digest(messages.data(), kMessages, lane_digests.data(), row.path);
      row.seconds = std::min(row.seconds, cpu_seconds(RUSAGE_SELF) - start);
      // Each lane's digest must be the one-stream digest of its message.
      for (size_t i = 0; run == 0 && i < kMessages; ++i) {
        md5_state state;
        md5_init(&state);
        md5_append(&state, messages[i].data, static_cast<int32_t>(messages[i].size));
        uint8_t one[16];
        md5_finish(&state, one);
        if (memcmp(one, lane_digests.data() + 16 * i, 16) != 0) lanes_agree = false;
      }
    }

    double start = cpu_seconds(RUSAGE_SELF);
    md5_state state;
    md5_init(&state);
    md5_append(&state, data.data(), static_cast<int32_t>(kBytes));
    md5_finish(&state, digest);
    own = std::min(own, cpu_seconds(RUSAGE_SELF) - start);

    start = cpu_seconds(RUSAGE_CHILDREN);
    listed = command_output(command);
    coreutils = std::min(coreutils, cpu_seconds(RUSAGE_CHILDREN) - start);

    openssl = std::max(openssl, openssl_mb_per_s());
  }
  if (listed.compare(0, 32, hex(digest)) != 0) {
    fprintf(stderr, "bench_md5: digests differ: own %s, md5sum %s\n", hex(digest).c_str(),
            listed.substr(0, 32).c_str());
    return 1;
  }

  if (!lanes_agree) {
    fprintf(stderr, "bench_md5: a multi-lane digest differs from the one-stream digest\n");
    return 1;
  }

  double own_rate = mb_per_s(kBytes, own);
  double coreutils_rate = mb_per_s(kBytes, coreutils);
  printf("md5 over %zu MiB, best of %d runs in CPU time (MB = 10^6 bytes)\n", kBytes >> 20, kRuns);
  printf("  varnelo md5      %8.1f MB/s\n", own_rate);
  printf("  coreutils md5sum %8.1f MB/s\n", coreutils_rate);
  printf("  ratio varnelo / md5sum: %.3fx\n", own_rate / coreutils_rate);
  printf("multi-lane: %zu messages of %zu MiB, aggregate on one core\n", kMessages,
         (kBytes / kMessages) >> 20);
  for (const lanes_row& row : rows) {
    if (!md5_lanes_available(row.path)) {
      printf("  %-22s (not on this processor)\n", row.name);
      continue;
    }
    double rate = mb_per_s(kBytes, row.seconds);
    printf("  %-22s %8.1f MB/s  %5.2fx one stream  %5.2fx md5sum  (%d lanes)\n", row.name, rate,
           rate / own_rate, rate / coreutils_rate, md5_lanes_width(row.path));
  }
  if (openssl > 0) {
    printf("  openssl (asm)    %8.1f MB/s (16 KiB blocks)\n", openssl);
    printf("  ratio varnelo / openssl: %.3fx\n", own_rate / openssl);
  } else {
    printf("  openssl not found: no assembly figure\n");
  }
  return 0;
}
