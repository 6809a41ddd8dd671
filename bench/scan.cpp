// Folder scans against the floor of the disk, measured in the same run: reading every file
// once with plain read() in one process (cold and warm cache), and find listing the tree.
// Rows: a warm scan (default, one hasher, no lanes) and md5sum for reference; a cold scan
// with the page cache dropped before each run; a rescan of a tree that is already listed;
// and the same on a tree of 200,000 files (hard links to a few real MP3s).
//
// Usage: bench_scan [CORPUS [LINKED_ROOT]]
//   CORPUS: a folder of MP3 files, read and never written (default /tmp/varnelo-bench-scan,
//     where a tree of about 1 GB is made once and kept; an empty or missing folder gets it).
//   LINKED_ROOT: where tools/linked_tree.py keeps the 200,000-file tree (default
//     /tmp/varnelo-bench-links; needs python3 and lame).
// The cold rows need root and a writable /proc/sys/vm/drop_caches; where that is refused
// they are left out and the run says why.
#include <dirent.h>
#include <errno.h>
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
#include <functional>
#include <memory>
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
constexpr int kWarmRounds = 5;  // each figure is the best of this many rounds
constexpr int kColdRounds = 2;
constexpr int kLinkedFolders = 1000, kLinkedPerFolder = 200;

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
  return true;
}

// The corpus to measure on: a folder of the user's as it is, or the generated tree, made in
// an empty or missing folder (and made again only where a making of it was cut short). A
// folder with anything else in it is never written to.
bool prepare_corpus(const std::string& root, bool* generated) {
  const std::string done = root + "/.complete", making = root + "/.making";
  *generated = access(done.c_str(), F_OK) == 0;
  if (*generated) return true;
  std::error_code ec;
  const bool empty = !std::filesystem::exists(root, ec) || std::filesystem::is_empty(root, ec);
  if (!empty && access(making.c_str(), F_OK) != 0) return std::filesystem::is_directory(root, ec);
  std::filesystem::remove_all(root, ec);
  std::filesystem::create_directories(root, ec);
  if (FILE* f = fopen(making.c_str(), "w")) fclose(f);
  if (!make_tree(root)) return false;
  if (FILE* f = fopen(done.c_str(), "w")) fclose(f);
  unlink(making.c_str());
  *generated = true;
  return true;
}

// The ".mp3" files below root in the order a folder walk meets them, with their bytes.
void walk_order(const std::string& dir, std::vector<std::string>* files, uint64_t* bytes) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    entries.push_back({e->d_name, e->d_type == DT_DIR});
  }
  closedir(d);
  for (const auto& [name, is_folder] : entries) {
    const std::string path = dir + "/" + name;
    if (is_folder) walk_order(path, files, bytes);
    const size_t dot = name.rfind('.');
    struct stat st;
    if (!is_folder && dot != std::string::npos && name.compare(dot, std::string::npos, ".mp3") == 0 &&
        stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      files->push_back(path);
      *bytes += static_cast<uint64_t>(st.st_size);
    }
  }
}

// The floor: the tree listed and every file read once, in walk order, with plain read().
void read_every_file(const std::string& root) {
  static unsigned char buffer[256 * 1024];
  std::vector<std::string> files;
  uint64_t bytes = 0;
  walk_order(root, &files, &bytes);
  for (const std::string& path : files) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) continue;
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
  }
}

// Empties the page cache (and the cached folders and inodes) after writing back what is
// dirty. False, with why in reason, where the system refuses it.
bool drop_caches(std::string* reason) {
  sync();
  int fd = open("/proc/sys/vm/drop_caches", O_WRONLY);
  bool dropped = fd >= 0 && write(fd, "3", 1) == 1;
  if (!dropped && reason != nullptr) *reason = strerror(errno);
  if (fd >= 0) close(fd);
  return dropped;
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

// One measured command: its best wall time over the rounds, and the processor time of that
// best round (processor time over wall time tells how many cores it really had). prepare
// runs untimed before each round.
struct measure {
  std::string name;
  std::function<void()> work;
  std::function<void()> prepare = [] {};
  double wall = 1e9;
  double cpu = 0;
  void once() {
    prepare();
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

std::string quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void scan(const std::string& root) {
  std::string dir = root;
  add_directory(dir.data(), nullptr, nullptr);
}

// The tables hold the walk of root (for the rescan rows), whose files are listed in files.
void listed(const std::string& root, const std::vector<std::string>& files) {
  if (file_getfilenum() == files.size() && !files.empty() &&
      get_fileentrybyfilename(files.back().c_str()) != -1)
    return;
  tables::clear();
  scan(root);
}

// Runs the rounds, interleaving the commands so that load from elsewhere falls on them all,
// and prints each against the floor (the first row).
std::string titled(const char* rows, int rounds) {
  return std::string(rows) + " (best of " + std::to_string(rounds) + ")";
}

void table(const std::string& title, std::vector<measure>& rows, int rounds, double mb) {
  for (int round = 0; round < rounds; ++round)
    for (measure& m : rows) m.once();
  const double floor = rows.front().wall;
  printf("\n%-48s %8s %8s %9s %9s\n", title.c_str(), "seconds", "MB/s", "vs floor", "cpu/wall");
  for (const measure& m : rows)
    printf("%-48s %8.3f %8.0f %8.2fx %9.2f\n", m.name.c_str(), m.wall, mb / m.wall,
           m.wall / floor, m.cpu / m.wall);
}

void scan_settings(int workers, mp3db_lanes lanes) {
  mp3db_set_scan_workers(workers);
  mp3db_set_lanes(lanes);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string corpus = argc > 1 ? argv[1] : "/tmp/varnelo-bench-scan";
  const std::string linked_root = argc > 2 ? argv[2] : "/tmp/varnelo-bench-links";
  bool generated = false;
  if (!prepare_corpus(corpus, &generated)) {
    fprintf(stderr, "cannot make or read the tree in %s\n", corpus.c_str());
    return 1;
  }
  mp3db_set_diagnostics(fopen("/dev/null", "w"));
  std::vector<std::string> files;
  uint64_t bytes = 0;
  walk_order(corpus, &files, &bytes);
  const double mb = static_cast<double>(bytes) / 1e6;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::string why_warm;
  const bool cold = drop_caches(&why_warm);
  printf("corpus: %s (%s), %zu files, %.0f MB; %u cores\n", corpus.c_str(),
         generated ? "generated" : "as given", files.size(), mb, cores);
  if (!cold) {
    printf("cold-cache rows left out: the page cache cannot be dropped here (%s; needs root "
           "and a writable /proc/sys/vm/drop_caches)\n",
           why_warm.c_str());
  } else {
    printf("cold-cache rows: the page cache is dropped (sync; echo 3 > "
           "/proc/sys/vm/drop_caches) before each of them\n");
  }

  // The file list for md5sum lives outside the corpus, which is never written to.
  char list[] = "/tmp/varnelo-bench-list-XXXXXX";
  int list_fd = mkstemp(list);
  for (const std::string& f : files) {
    if (write(list_fd, f.c_str(), f.size() + 1) != static_cast<ssize_t>(f.size() + 1)) break;
  }
  close(list_fd);
  const std::string quoted_list = quoted(list);
  auto fresh_scan = [&](int workers, mp3db_lanes lanes) {
    return [&, workers, lanes] {
      scan_settings(workers, lanes);
      tables::clear();
      scan(corpus);
    };
  };
  auto default_settings = [] { scan_settings(0, mp3db_lanes_widest); };
  auto drop = [] { drop_caches(nullptr); };
  prehash::counters rescan_counts;

  read_every_file(corpus);  // warms the cache
  std::vector<measure> warm = {
      {"read every file once (floor)", [&] { read_every_file(corpus); }},
      {"scan, default (" + std::to_string(cores) + " hashers, lanes)",
       fresh_scan(0, mp3db_lanes_widest)},
      {"scan, 1 hasher (calling thread)", fresh_scan(1, mp3db_lanes_widest)},
      {"scan, " + std::to_string(cores) + " hashers, no lanes", fresh_scan(0, mp3db_lanes_off)},
      {"xargs -0 -P2 -n 50 md5sum",
       [&] { run("xargs -0 -P2 -n 50 md5sum < " + quoted_list + " > /dev/null"); }},
  };
  table(titled("warm cache", kWarmRounds), warm, kWarmRounds, mb);

  std::vector<measure> listing = {
      {"find (floor)", [&] { run("find " + quoted(corpus) + " > /dev/null"); }},
      {"rescan, every file listed",
       [&] {
         scan(corpus);
         rescan_counts = folder_walk::last_walk_counters();
       },
       [&] {
         default_settings();
         listed(corpus, files);
       }},
  };
  table(titled("listing, warm cache", kWarmRounds), listing, kWarmRounds, mb);

  std::vector<measure> cold_rows;
  if (cold) {
    cold_rows = {
        {"read every file once (floor)", [&] { read_every_file(corpus); }, drop},
        {"scan, default", [&] { scan(corpus); },
         [&] {
           default_settings();
           tables::clear();
           drop();
         }},
        {"find", [&] { run("find " + quoted(corpus) + " > /dev/null"); }, drop},
        {"rescan, every file listed", [&] { scan(corpus); },
         [&] {
           listed(corpus, files);
           drop();
         }},
    };
    table(titled("cold cache", kColdRounds), cold_rows, kColdRounds, mb);
  }
  unlink(list);

  // The 200,000-file tree.
  double linked_find = 0, linked_rescan = 0;
  const std::string make = "python3 " + quoted(std::string(VARNELO_SOURCE_DIR) +
                                               "/tools/linked_tree.py") +
                           " " + quoted(linked_root) + " " + std::to_string(kLinkedFolders) +
                           " " + std::to_string(kLinkedPerFolder) + " > /dev/null";
  const std::string linked = linked_root + "/tree";
  if (system(make.c_str()) != 0) {
    printf("\n200,000-file rows left out: tools/linked_tree.py could not make the tree "
           "(it needs python3 and lame)\n");
  } else {
    std::vector<std::string> links;
    uint64_t linked_bytes = 0;
    walk_order(linked, &links, &linked_bytes);
    const double linked_mb = static_cast<double>(linked_bytes) / 1e6;
    const uint32_t linked_files = static_cast<uint32_t>(links.size());
    printf("\nlinked tree: %s, %u files (hard links to a few clips), %.0f MB\n", linked.c_str(),
           linked_files, linked_mb);
    default_settings();
    read_every_file(linked);
    std::vector<measure> rows = {
        {"find (floor)", [&] { run("find " + quoted(linked) + " > /dev/null"); }},
        {"rescan, every file listed",
         [&] {
           scan(linked);
           rescan_counts = folder_walk::last_walk_counters();
         },
         [&] { listed(linked, links); }},
    };
    table(titled("200,000 files, listing, warm cache", kWarmRounds), rows, kWarmRounds, linked_mb);
    linked_find = rows[0].wall;
    linked_rescan = rows[1].wall;
    std::vector<measure> reading = {
        {"read every file once (floor)", [&] { read_every_file(linked); }},
        {"scan, default", [&] { scan(linked); }, [] { tables::clear(); }},
    };
    table(titled("200,000 files, reading, warm cache", 1), reading, 1, linked_mb);
    if (cold) {
      std::vector<measure> cold_linked = {
          {"find (floor)", [&] { run("find " + quoted(linked) + " > /dev/null"); }, drop},
          {"rescan, every file listed", [&] { scan(linked); },
           [&] {
             listed(linked, links);
             drop();
           }},
      };
      table(titled("200,000 files, listing, cold cache", kColdRounds), cold_linked, kColdRounds,
            linked_mb);
    }
    tables::clear();
  }

  printf("\nwarm scan vs reading every file        %.2fx (target <= 1.5x)\n",
         warm[1].wall / warm[0].wall);
  if (cold) {
    printf("cold scan vs reading every file        %.2fx (target <= 1.05x)\n",
           cold_rows[1].wall / cold_rows[0].wall);
  }
  if (linked_find > 0) {
    printf("rescan of 200,000 listed files vs find %.2fx (target <= 5x)\n",
           linked_rescan / linked_find);
  }
  printf("scan with lanes vs xargs -P2 md5sum    %.2fx faster\n", warm[4].wall / warm[1].wall);
  printf("last rescan: %lu files planned, %lu listed, %lu looked at ahead, %lu digests\n",
         static_cast<unsigned long>(rescan_counts.planned),
         static_cast<unsigned long>(rescan_counts.skipped_listed),
         static_cast<unsigned long>(rescan_counts.looked_at),
         static_cast<unsigned long>(rescan_counts.hashed_ahead + rescan_counts.hashed_helping +
                                    rescan_counts.hashed_on_caller));
  return 0;
}
