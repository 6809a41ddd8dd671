// The cleanup library against the least any such work must do, in the same run:
//  - planning 1,000,000 files in 100,000 groups with each keep rule but best-tags, and with
//    all of them, against one plain pass over the file table;
//  - reading the tags of 2,000 real tagged MP3s (lame, id3v2, eyeD3), warm, against one open
//    and read of each file's tag regions (the ID3v2 tag at the start, 128 bytes at the end).
// Usage: bench_cleanup [folder] (default /tmp/varnelo-bench-tags; the files are made there
// once with lame, id3v2 and eyeD3, and reused; /tmp/varnelo-bench-plan-files likewise holds
// 50,000 empty files for the modification times of newest and oldest).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cleanup/groups.h"
#include "cleanup/plan.h"
#include "cleanup/tags.h"
#include "database/mp3_db.h"
#include "database/tables.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kRounds = 3;  // each figure is the best of this many

double best_ms(const std::function<void()>& work) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = clock_type::now();
    work();
    best = std::min(best,
                    std::chrono::duration<double, std::milli>(clock_type::now() - start).count());
  }
  return best;
}

// 1,000,000 entries in 100,000 groups of 10, as a scan lists a library: the files of an album
// folder (ten tracks) one after another, the copies of a recording scattered over the table.
// The root exists, the files do not.
void fill_tables(const std::string& root) {
  tables::clear();
  constexpr uint32_t kFilesInAll = 1000000, kGroups = 100000;
  for (uint32_t i = 0; i < kGroups; ++i) {
    unsigned char digest[16] = {};
    for (int b = 0; b < 4; ++b) digest[b] = static_cast<unsigned char>(i >> (8 * b));
    digest[15] = 0xa5;
    tables::append_hash(digest);
  }
  std::vector<uint32_t> order(kFilesInAll);
  for (uint32_t k = 0; k < kFilesInAll; ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  char name[160];
  for (uint32_t k = 0; k < kFilesInAll; ++k) {
    auto* f = static_cast<fileentry*>(malloc(sizeof(fileentry)));
    f->hashid = static_cast<int32_t>(order[k] % kGroups);
    f->filesize = 3000000 + (k * 7919u) % 5000000;
    snprintf(name, sizeof name, "%s/%s/Artist %04u/Album %05u/%02u - Track %u.mp3", root.c_str(),
             k % 3 == 0 ? "keep" : "other", k / 10000, k / 10, k % 10, k);
    f->filename = stringcpy(name);
    tables::append_file(f);
  }
}

double plain_pass_ms() {
  uint64_t sum = 0;
  const double ms = best_ms([&] {
    for (uint32_t k = 0, n = file_getfilenum(); k < n; ++k) {
      const fileentry* f = db_getfileentry(k);
      sum += f->filesize + static_cast<uint32_t>(f->hashid) +
             static_cast<unsigned char>(f->filename[0]);
    }
  });
  if (sum == 42) puts("");  // keeps the pass from being optimised away
  return ms;
}

void bench_planning() {
  const std::string root = std::filesystem::temp_directory_path() / "varnelo-bench-plan";
  std::filesystem::create_directories(root + "/keep");
  std::filesystem::create_directories(root + "/other");
  fill_tables(root);
  const double plain = plain_pass_ms();
  printf("planning: 1,000,000 files in 100,000 groups of 10\n");
  printf("  plain pass over the file table     %9.2f ms  (baseline)\n", plain);
  cleanup::duplicate_groups groups;
  const double grouping = best_ms([&] { groups = cleanup::group_by_digest(); });
  printf("  group_by_digest                    %9.2f ms  = %6.1f x plain pass\n", grouping,
         grouping / plain);

  using cleanup::keep_rule_kind;
  const std::vector<std::pair<const char*, std::vector<cleanup::keep_rule>>> cases = {
      {"first", {{keep_rule_kind::first, {}}}},
      {"shortest-path", {{keep_rule_kind::shortest_path, {}}}},
      {"longest-path", {{keep_rule_kind::longest_path, {}}}},
      {"newest", {{keep_rule_kind::newest, {}}}},
      {"oldest", {{keep_rule_kind::oldest, {}}}},
      {"keep-in", {{keep_rule_kind::keep_in, root + "/keep"}}},
      {"protect", {{keep_rule_kind::protect, root + "/keep"}}},
      {"all but best-tags",
       {{keep_rule_kind::protect, root + "/other/Artist 0001"},
        {keep_rule_kind::keep_in, root + "/keep"},
        {keep_rule_kind::newest, {}},
        {keep_rule_kind::oldest, {}},
        {keep_rule_kind::longest_path, {}},
        {keep_rule_kind::shortest_path, {}},
        {keep_rule_kind::first, {}}}},
  };
  double worst = 0;
  for (const auto& [name, rules] : cases) {
    uint64_t to_go = 0;
    const double ms =
        best_ms([&, &rules = rules] { to_go = cleanup::make_plan(groups, rules).copies_to_go; });
    worst = std::max(worst, grouping + ms);
    printf("  make_plan %-24s %9.2f ms  = %6.1f x plain pass  (%llu to go)\n", name, ms, ms / plain,
           static_cast<unsigned long long>(to_go));
  }
  printf("  slowest grouping + plan: %.0f ms (%s 1 s)\n", worst, worst < 1000 ? "under" : "OVER");
  tables::clear();
  std::filesystem::remove_all(root);
}

// The files above do not exist, so newest and oldest learn that from their folders. Here
// they read the times of 50,000 real (empty) files in 5,000 album folders, made once.
void bench_planning_real_files(const std::string& root) {
  constexpr uint32_t kFilesInAll = 50000, kGroups = 5000;
  const std::string done = root + "/.complete";
  std::vector<std::string> paths;
  for (uint32_t k = 0; k < kFilesInAll; ++k)
    paths.push_back(root + "/Album " + std::to_string(k / 10) + "/" + std::to_string(k % 10) +
                    ".mp3");
  if (access(done.c_str(), F_OK) != 0) {
    std::filesystem::remove_all(root);
    for (uint32_t k = 0; k < kFilesInAll; ++k) {
      if (k % 10 == 0)
        std::filesystem::create_directories(root + "/Album " + std::to_string(k / 10));
      std::ofstream(paths[k]).put('\n');
    }
    std::ofstream(done).put('\n');
  }
  tables::clear();
  for (uint32_t i = 0; i < kGroups; ++i) {
    unsigned char digest[16] = {};
    for (int b = 0; b < 4; ++b) digest[b] = static_cast<unsigned char>(i >> (8 * b));
    tables::append_hash(digest);
  }
  std::vector<uint32_t> order(kFilesInAll);
  for (uint32_t k = 0; k < kFilesInAll; ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), std::mt19937(12));
  for (uint32_t k = 0; k < kFilesInAll; ++k) {
    auto* f = static_cast<fileentry*>(malloc(sizeof(fileentry)));
    *f = fileentry{static_cast<int32_t>(order[k] % kGroups), 1, stringcpy(paths[k].c_str())};
    tables::append_file(f);
  }
  const cleanup::duplicate_groups groups = cleanup::group_by_digest();
  // The least newest can do: ask the system for each file's time once.
  int64_t sum = 0;
  const double stats = best_ms([&] {
    struct stat st;
    for (uint32_t k = 0; k < kFilesInAll; ++k)
      if (stat(db_getfileentry(k)->filename, &st) == 0) sum += st.st_mtim.tv_nsec;
  });
  const double ms = best_ms([&] {
    cleanup::make_plan(groups, {{cleanup::keep_rule_kind::newest, {}}});
  });
  printf("planning newest over %u real files (%u folders), warm\n", kFilesInAll, kFilesInAll / 10);
  printf("  one stat per file                  %9.2f ms  (baseline, %.2f us a stat here)\n", stats,
         stats * 1000 / kFilesInAll);
  printf(
      "  make_plan newest                   %9.2f ms  = %6.2f x the stats (%.0f ms for a "
      "million)\n",
      ms, ms / stats, ms * 1000000 / kFilesInAll);
  if (sum == 42) puts("");
  tables::clear();
}

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// 2,000 real MP3s: twelve encodings tagged by lame, id3v2 and eyeD3 (with covers), copied.
bool make_tagged_files(const std::string& root, std::vector<std::string>* files) {
  const std::string done = root + "/.complete";
  files->clear();
  for (int i = 0; i < 2000; ++i) files->push_back(root + "/files/" + std::to_string(i) + ".mp3");
  if (access(done.c_str(), F_OK) == 0) return true;
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/files");
  const std::string raw = root + "/raw.pcm", cover = root + "/cover.jpg";
  {
    std::mt19937 gen(5);
    std::ofstream out(raw, std::ios::binary);
    for (int i = 0; i < 4 * 44100 * 4; ++i) out.put(static_cast<char>(gen()));
    std::ofstream jpeg(cover, std::ios::binary);
    jpeg << std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00", 11) << std::string(20000, 'x')
         << "\xff\xd9";
  }
  const std::string lame = "lame --quiet -r -s 44.1 --bitwidth 16 '" + raw + "' ";
  const std::vector<std::string> taggers = {
      "",
      "id3v2 -a 'Artist' -t 'Title' -A 'Album' -y 1999 -T 4/12 -g 17",
      "id3v2 -1 -a 'Only v1' -t 'v1 title'",
      "id3v2 -2 -t 'Only v2' -c 'a comment'",
      "eyeD3 --to-v2.4 -t 'Eye title' -a 'Eye artist' -A 'Eye album' -b 'Band' -Y 2005 -n 7 "
      "-G Jazz --add-image '" +
          cover + "':FRONT_COVER",
      "eyeD3 --to-v2.3 -t 'Eye 2.3' -A 'An album' --recording-date 1987",
  };
  std::vector<std::string> templates;
  for (int bitrate : {128, 192}) {
    const std::string plain = root + "/plain" + std::to_string(bitrate) + ".mp3";
    if (!run(lame + "-b " + std::to_string(bitrate) + " '" + plain + "'")) return false;
    for (size_t t = 0; t < taggers.size(); ++t) {
      const std::string name =
          root + "/t" + std::to_string(bitrate) + "-" + std::to_string(t) + ".mp3";
      std::filesystem::copy_file(plain, name);
      if (!taggers[t].empty() && !run(taggers[t] + " '" + name + "'")) return false;
      templates.push_back(name);
    }
  }
  for (size_t i = 0; i < files->size(); ++i)
    std::filesystem::copy_file(templates[i % templates.size()], (*files)[i]);
  std::ofstream(done).put('\n');
  return true;
}

// The least a tag reader does: open, read the ID3v2 header and tag, read the last 128 bytes.
uint64_t read_tag_regions(const std::vector<std::string>& files) {
  uint64_t bytes = 0;
  std::vector<unsigned char> buffer(1 << 20);
  for (const std::string& path : files) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    unsigned char head[10];
    if (pread(fd, head, 10, 0) == 10 && head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
      const size_t tag =
          std::min<size_t>(buffer.size(), (size_t{head[6]} << 21) | (size_t{head[7]} << 14) |
                                              (size_t{head[8]} << 7) | head[9]);
      bytes += static_cast<uint64_t>(std::max<ssize_t>(0, pread(fd, buffer.data(), tag, 10)));
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end >= 128)
      bytes +=
          static_cast<uint64_t>(std::max<ssize_t>(0, pread(fd, buffer.data(), 128, end - 128)));
    close(fd);
  }
  return bytes;
}

void bench_tags(const std::string& root) {
  std::vector<std::string> files;
  if (!make_tagged_files(root, &files)) {
    printf("tags: skipped, cannot make the files (lame, id3v2 and eyeD3 are needed)\n");
    return;
  }
  uint64_t sink = read_tag_regions(files);  // warms the cache
  int readable = 0;
  for (const std::string& f : files) readable += cleanup::read_tags(f.c_str()).readable;
  const double baseline = best_ms([&] { sink += read_tag_regions(files); });
  const double reading = best_ms([&] {
    for (const std::string& f : files) sink += cleanup::read_tags(f.c_str()).title.size();
  });
  const double per_second = files.size() / (reading / 1000.0);
  printf("tags: %zu real tagged files in %s, warm (%d readable)\n", files.size(), root.c_str(),
         readable);
  printf("  open + read of the tag regions     %9.2f ms  (baseline, %llu)\n", baseline,
         static_cast<unsigned long long>(sink % 1000));
  printf(
      "  read_tags                          %9.2f ms  = %6.1f x baseline, %.0f files/s (%s "
      "1,000)\n",
      reading, reading / baseline, per_second, per_second >= 1000 ? "at least" : "BELOW");
}

}  // namespace

int main(int argc, char** argv) {
  mp3db_set_diagnostics(stderr);
  bench_planning();
  bench_planning_real_files("/tmp/varnelo-bench-plan-files");
  bench_tags(argc > 1 ? argv[1] : "/tmp/varnelo-bench-tags");
  return 0;
}
