// The cleaning pass over a large database with some files gone, and the title search walk,
// each against a baseline measured in the same run on the same paths.
//
//   bench_clean [entries] [folder]     (defaults: 1000000 entries, $TMPDIR or /tmp)
//
// Cleaning: every tenth entry names a file that does not exist; the rest are real empty
// files, a thousand to a folder (distinct paths, as the table's names are). Baseline: one
// fopen/fclose per path. Search: 10 passes of a search that matches nothing over 100,000
// entries whose files exist and carry no tag, so every entry is examined and its file
// opened; baseline: one fopen, seek, 128-byte read and fclose per path.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "database/mp3_db.h"
#include "database/tables.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPerFolder = 1000;
constexpr uint32_t kSearchEntries = 100000;
constexpr int kSearchPasses = 10;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void die(const char* what, const std::string& path) {
  fprintf(stderr, "bench_clean: %s %s\n", what, path.c_str());
  exit(1);
}

// A tree of folders under root with one path per entry; entries whose index satisfies
// missing() are left out on disk. Files get size bytes of filler (no tag).
struct tree {
  std::string root;
  std::vector<std::string> paths;
  std::vector<std::string> folders;

  tree(const std::string& base, const char* label, uint32_t entries, size_t size,
       bool (*missing)(uint32_t)) {
    std::string pattern = base + "/varnelo-bench-" + label + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) die("cannot make a folder under", base);
    root = pattern;
    const std::string filler(size, 'a');
    char name[64];
    paths.reserve(entries);
    for (uint32_t i = 0; i < entries; ++i) {
      if (i % kPerFolder == 0) {
        snprintf(name, sizeof name, "/d%04u", i / kPerFolder);
        folders.push_back(root + name);
        if (mkdir(folders.back().c_str(), 0755) != 0) die("cannot make", folders.back());
      }
      snprintf(name, sizeof name, "/f%07u.mp3", i);
      paths.push_back(folders.back() + name);
      if (missing(i)) continue;
      int fd = open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) die("cannot create", paths.back());
      if (size > 0 && write(fd, filler.data(), size) != static_cast<ssize_t>(size))
        die("cannot write", paths.back());
      close(fd);
    }
  }
  ~tree() {
    for (const std::string& p : paths) unlink(p.c_str());
    for (const std::string& f : folders) rmdir(f.c_str());
    rmdir(root.c_str());
  }
  tree(const tree&) = delete;
  tree& operator=(const tree&) = delete;

  void enter_all() const {
    tables::clear();
    const unsigned char digest[16] = {1};
    tables::append_hash(digest);
    for (const std::string& p : paths) {
      auto* e = static_cast<fileentry*>(malloc(sizeof(fileentry)));
      if (e == nullptr) die("out of memory at", p);
      *e = {0, 0, stringcpy(p.c_str())};
      tables::append_file(e);
    }
  }
};

double open_close_all(const std::vector<std::string>& paths, size_t* opened) {
  *opened = 0;
  Clock::time_point start = Clock::now();
  for (const std::string& p : paths) {
    if (FILE* f = fopen(p.c_str(), "rb")) {
      ++*opened;
      fclose(f);
    }
  }
  return seconds_since(start);
}

double read_tail_all(const std::vector<std::string>& paths, int passes) {
  Clock::time_point start = Clock::now();
  unsigned char tag[128];
  size_t tags = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (const std::string& p : paths) {
      if (FILE* f = fopen(p.c_str(), "rb")) {
        fseek(f, -128, SEEK_END);
        if (fread(tag, sizeof tag, 1, f) == 1 && memcmp(tag, "TAG", 3) == 0) ++tags;
        fclose(f);
      }
    }
  }
  if (tags != 0) die("unexpected tags in", paths.front());
  return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t entries = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)) : 1000000;
  const char* tmp = getenv("TMPDIR");
  const std::string base = argc > 2 ? argv[2] : (tmp != nullptr && *tmp != 0 ? tmp : "/tmp");
  FILE* quiet = fopen("/dev/null", "w");
  mp3db_set_diagnostics(quiet);

  // ---- cleaning pass ----
  Clock::time_point start = Clock::now();
  tree clean(base, "clean", entries, 0, [](uint32_t i) { return i % 10 == 9; });
  printf("made %u entries (%zu folders) in %.1f s\n", entries, clean.folders.size(),
         seconds_since(start));
  size_t opened = 0;
  open_close_all(clean.paths, &opened);  // warms the system's caches for both runs
  const double base_before = open_close_all(clean.paths, &opened);
  clean.enter_all();
  start = Clock::now();
  const int result = file_updatedb();
  const double cleaning = seconds_since(start);
  const double base_after = open_close_all(clean.paths, &opened);
  const double baseline = (base_before + base_after) / 2;
  if (result != 1 || file_getfilenum() != opened) die("cleaning went wrong under", clean.root);
  printf("cleaning: %u entries, %u removed: %.3f s; baseline fopen/fclose per entry: %.3f s; "
         "ratio %.2f\n",
         entries, entries - file_getfilenum(), cleaning, baseline, cleaning / baseline);
  tables::clear();

  // ---- title search ----
  const uint32_t searched = entries < kSearchEntries ? entries : kSearchEntries;
  tree songs(base, "search", searched, 256, [](uint32_t) { return false; });
  songs.enter_all();
  read_tail_all(songs.paths, 1);  // warm-up
  const double tail_base = read_tail_all(songs.paths, kSearchPasses);
  get_fileentriesbyname("no*such words");
  start = Clock::now();
  for (int pass = 0; pass < kSearchPasses; ++pass)
    if (get_fileentriesbyname(nullptr) != -1) die("unexpected match under", songs.root);
  const double search = seconds_since(start);
  const double examined = static_cast<double>(searched) * kSearchPasses;
  printf("search: %d passes over %u entries: %.3f s, %.0f entries examined/s; baseline "
         "fopen/seek/read/fclose per entry: %.3f s; ratio %.2f\n",
         kSearchPasses, searched, search, examined / search, tail_base, search / tail_base);
  tables::clear();
  mp3db_set_diagnostics(nullptr);
  fclose(quiet);
  return 0;
}
