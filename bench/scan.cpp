// Folder scan against md5sum over the same files, warm cache, with the workers digesting
// files in lanes and one file at a time, and a rescan of a tree that is already listed. Usage: bench_scan [folder] (default /tmp/varnelo-bench-scan;
// the tree is made there once and reused).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "database/folder_walk.h"
#include "database/mp3_db.h"
#include "database/tables.h"

namespace {

constexpr int kFiles = 2000;
constexpr int kFolders = 100;
constexpr double kDuplicateShare = 0.3;
constexpr int kRuns = 3;  // each figure is the best of this many rounds

struct xorshift {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
};

std::vector<unsigned char> audio_bytes(uint64_t seed, size_t n) {
  std::vector<unsigned char> out((n + 7) / 8 * 8);
  xorshift r{seed * 0x9E3779B97F4A7C15ull + 1};
  for (size_t i = 0; i < out.size(); i += 8) {
    uint64_t v = r.next();
    memcpy(&out[i], &v, 8);
  }
  out.resize(n);
  return out;
}

void put_tags(std::vector<unsigned char>* file, const std::vector<unsigned char>& audio,
              size_t v2_body, const std::string& title) {
  unsigned char v2[10] = {'I',
                          'D',
                          '3',
                          3,
                          0,
                          0,
                          static_cast<unsigned char>((v2_body >> 21) & 0x7f),
                          static_cast<unsigned char>((v2_body >> 14) & 0x7f),
                          static_cast<unsigned char>((v2_body >> 7) & 0x7f),
                          static_cast<unsigned char>(v2_body & 0x7f)};
  file->assign(v2, v2 + 10);
  file->resize(10 + v2_body, 0);
  file->insert(file->end(), audio.begin(), audio.end());
  unsigned char v1[128] = {'T', 'A', 'G'};
  memcpy(v1 + 3, title.data(), std::min<size_t>(title.size(), 30));
  file->insert(file->end(), v1, v1 + 128);
}

// About 1 GB in kFiles files over kFolders folders; 30% are copies of an earlier file's
// audio with other tags. Times are set in the past, as in a collection.
bool make_tree(const std::string& root) {
  const std::string done = root + "/.complete";
  if (access(done.c_str(), F_OK) == 0) return true;
  std::filesystem::remove_all(root);
  xorshift r{42};
  std::vector<std::pair<uint64_t, size_t>> originals;
  std::vector<unsigned char> file;
  for (int i = 0; i < kFiles; ++i) {
    std::string folder = root + "/artist " + std::to_string(i % kFolders / 10) + "/album " +
                         std::to_string(i % kFolders);
    std::filesystem::create_directories(folder);
    uint64_t seed;
    size_t size;
    if (!originals.empty() && (r.next() % 1000) < kDuplicateShare * 1000) {
      std::tie(seed, size) = originals[r.next() % originals.size()];
    } else {
      seed = static_cast<uint64_t>(i);
      size = 150000 + r.next() % 700000;  // 150 KB to 850 KB, about 500 KB on average
      originals.push_back({seed, size});
    }
    put_tags(&file, audio_bytes(seed, size), 200 + r.next() % 4000, "title " + std::to_string(i));
    std::string path = folder + "/track " + std::to_string(i) + ".mp3";
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(file.data(), 1, file.size(), f) != file.size()) return false;
    fclose(f);
    struct timespec old[2] = {{1600000000, 0}, {1600000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), old, 0);
  }
  FILE* f = fopen(done.c_str(), "w");
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

std::vector<std::string> mp3_files(const std::string& root, uint64_t* bytes) {
  std::vector<std::string> out;
  *bytes = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file() && e.path().extension() == ".mp3") {
      out.push_back(e.path().string());
      *bytes += e.file_size();
    }
  }
  return out;
}

double cpu_seconds() {
  struct rusage self, children;
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  auto sum = [](const struct rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  return sum(self) + sum(children);
}

// One measured command: its best wall time over the rounds, and the processor time of
// that best round (processor time over wall time tells how many cores it really had).
struct measure {
  const char* name;
  std::function<void()> work;
  double wall = 1e9;
  double cpu = 0;
  void once() {
    double cpu0 = cpu_seconds();
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < wall) {
      wall = took.count();
      cpu = cpu_seconds() - cpu0;
    }
  }
};

void run(const std::string& command) {
  if (system(command.c_str()) != 0) fprintf(stderr, "failed: %s\n", command.c_str());
}

int scan(const std::string& root) {
  std::string dir = root;
  return add_directory(dir.data(), nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : "/tmp/varnelo-bench-scan";
  if (!make_tree(root)) {
    fprintf(stderr, "cannot make the tree in %s\n", root.c_str());
    return 1;
  }
  uint64_t bytes = 0;
  std::vector<std::string> files = mp3_files(root, &bytes);
  const std::string list = root + "/.list";
  {
    std::ofstream out(list, std::ios::binary);
    for (const std::string& f : files) out << f << '\0';
  }
  const std::string quoted_list = "'" + list + "'";
  run("xargs -0 cat < " + quoted_list + " > /dev/null");  // warm the cache

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  auto full_scan = [&](int workers, mp3db_lanes lanes = mp3db_lanes_widest) {
    return [&, workers, lanes] {
      mp3db_set_scan_workers(workers);
      mp3db_set_lanes(lanes);
      tables::clear();
      scan(root);
    };
  };
  std::string default_name = "scan, default (" + std::to_string(cores) + " hashers, lanes)";
  std::string one_stream_name =
      "scan, " + std::to_string(cores) + " hashers, no lanes (one file each)";
  prehash::counters c, rescan;
  uint32_t listed = 0, digests = 0;
  std::vector<measure> runs = {
      {"xargs -0 md5sum (one process at a time)",
       [&] { run("xargs -0 md5sum < " + quoted_list + " > /dev/null"); }},
      {"xargs -0 -P2 -n 50 md5sum",
       [&] { run("xargs -0 -P2 -n 50 md5sum < " + quoted_list + " > /dev/null"); }},
      {"scan, 1 hasher (calling thread)", full_scan(1)},
      {one_stream_name.c_str(), full_scan(0, mp3db_lanes_off)},
      {default_name.c_str(),
       [&] {
         full_scan(0)();
         c = folder_walk::last_walk_counters();
         listed = file_getfilenum();
         digests = file_gethashnum();
       }},
      {"rescan, every file listed",
       [&] {
         scan(root);
         rescan = folder_walk::last_walk_counters();
       }},
  };
  // Rounds interleave the commands, so that load from elsewhere falls on all of them.
  for (int round = 0; round < kRuns; ++round)
    for (measure& m : runs) m.once();

  const double mb = static_cast<double>(bytes) / 1e6;
  const double p2 = runs[1].wall;
  printf("tree: %s, %zu files, %.0f MB, %u entries, %u digests; %u cores\n", root.c_str(),
         files.size(), mb, listed, digests, cores);
  printf("%-44s %8s %8s %11s %9s\n", "run (best of 3, warm cache)", "seconds", "MB/s", "vs -P2 md5",
         "cpu/wall");
  for (const measure& m : runs)
    printf("%-44s %8.3f %8.0f %10.2fx %9.2f\n", m.name, m.wall, mb / m.wall, m.wall / p2,
           m.cpu / m.wall);
  printf("\nsecond md5sum process gains     %.2fx\n", runs[0].wall / p2);
  printf("scan: default hashers gain      %.2fx over 1\n", runs[2].wall / runs[4].wall);
  printf("scan: lanes gain                %.2fx over one file per worker\n",
         runs[3].wall / runs[4].wall);
  printf("scan vs xargs -P2 md5sum        %.2fx (target <= 1.15x)\n", runs[4].wall / p2);
  printf("scan with lanes is              %.2fx faster than xargs -P2 md5sum (target >= 3x)\n",
         p2 / runs[4].wall);
  printf("first scan vs rescan            %.1fx (target >= 20x)\n", runs[4].wall / runs[5].wall);
  printf(
      "last default scan: %lu digests by workers, %lu by the caller while waiting, "
      "%lu by the caller at add time, %lu used, %lu refused\n",
      static_cast<unsigned long>(c.hashed_ahead), static_cast<unsigned long>(c.hashed_helping),
      static_cast<unsigned long>(c.hashed_on_caller), static_cast<unsigned long>(c.used),
      static_cast<unsigned long>(c.rejected));
  printf("last rescan: %lu files planned, %lu left out as listed, %lu digests computed\n",
         static_cast<unsigned long>(rescan.planned),
         static_cast<unsigned long>(rescan.skipped_listed),
         static_cast<unsigned long>(rescan.hashed_ahead + rescan.hashed_helping +
                                    rescan.hashed_on_caller));
  return 0;
}
