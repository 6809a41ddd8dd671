// The tables of the open database, and the indexes that answer the lookups by path, by
// digest and by hashid without scanning. The indexes are built at their first use after a
// load and from then on kept in step with every change, so their answers are those of the
// in-order scans: the lowest index among equal keys.
#include "database/tables.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "database/flat_index.h"

namespace {

constexpr uint32_t kNone = UINT32_MAX;

struct store_tables {
  std::vector<fileentry> files;
  std::vector<tables::digest> hashes;
  // The block holding the paths of the last load; paths outside it are malloc'ed.
  char* names = nullptr;
  size_t names_size = 0;

  // Path -> lowest file index with that path. A loaded file may repeat a path; the other
  // indexes of such a path wait in path_repeats so that the next lowest takes over.
  bool paths_built = false;
  flat_index paths;
  std::unordered_map<std::string, std::set<uint32_t>> path_repeats;

  // Digest -> lowest hash index with that digest (digests are only ever appended).
  bool digests_built = false;
  flat_index digests;

  // Files per hashid; hashids beyond hashnum (possible in a loaded file) wait in
  // pending_counts until appended digests reach them.
  bool counts_built = false;
  std::vector<uint32_t> counts;
  std::unordered_map<int32_t, uint32_t> pending_counts;

  // Ascending chains of the files of each digest, rebuilt when the tables have changed.
  uint64_t generation = 0;
  // Changes that may have taken a path out of the tables.
  uint64_t paths_dropped = 0;
  uint64_t chains_generation = UINT64_MAX;
  std::vector<uint32_t> chain_heads;
  std::vector<uint32_t> chain_next;
};

store_tables g;

bool in_name_block(const char* p) {
  auto a = reinterpret_cast<uintptr_t>(p);
  auto begin = reinterpret_cast<uintptr_t>(g.names);
  return g.names != nullptr && a >= begin && a < begin + g.names_size;
}

void release_name(char* p) {
  if (!in_name_block(p)) free(p);
}

uint32_t path_hash(const char* path) {
  uint64_t h = std::hash<std::string_view>()(std::string_view(path));
  return static_cast<uint32_t>(h ^ (h >> 32));
}

// Multiply-shift over both halves of the digest, with factors chosen per process, so that
// a crafted file cannot line up its digests in one probe run.
uint32_t digest_hash(const unsigned char* d) {
  static const uint64_t k1 = [] {
    uint64_t t = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (t * 0x9E3779B97F4A7C15ull) | 1;
  }();
  static const uint64_t k2 = (k1 * 0xBF58476D1CE4E5B9ull) | 1;
  uint64_t lo, hi;
  memcpy(&lo, d, 8);
  memcpy(&hi, d + 8, 8);
  return static_cast<uint32_t>((lo * k1 + hi * k2) >> 32);
}

size_t find_path_slot(const char* path, uint32_t h) {
  return g.paths.find(h, [path](uint32_t i) { return strcmp(g.files[i].filename, path) == 0; });
}

// Enters file index i under its path, where i may be lower or higher than indexes that
// already carry the path.
void add_path_key(uint32_t i) {
  const char* name = g.files[i].filename;
  uint32_t h = path_hash(name);
  size_t pos = find_path_slot(name, h);
  if (pos == flat_index::npos) {
    g.paths.insert(h, i);
    return;
  }
  uint32_t lowest = g.paths.index_at(pos);
  std::set<uint32_t>& rest = g.path_repeats[name];
  if (i < lowest) {
    rest.insert(lowest);
    g.paths.set_index(pos, i);
  } else {
    rest.insert(i);
  }
}

void drop_path_key(uint32_t i) {
  const char* name = g.files[i].filename;
  size_t pos = find_path_slot(name, path_hash(name));
  if (pos == flat_index::npos) return;  // cannot happen while the index is in step
  auto it = g.path_repeats.find(name);
  if (g.paths.index_at(pos) == i) {
    if (it == g.path_repeats.end()) {
      g.paths.erase(pos);
      return;
    }
    g.paths.set_index(pos, *it->second.begin());
    it->second.erase(it->second.begin());
  } else if (it != g.path_repeats.end()) {
    it->second.erase(i);
  }
  if (it != g.path_repeats.end() && it->second.empty()) g.path_repeats.erase(it);
}

// The entry at from is about to move to the lower index to.
void move_path_key(uint32_t from, uint32_t to) {
  const char* name = g.files[from].filename;
  size_t pos = find_path_slot(name, path_hash(name));
  if (pos == flat_index::npos) return;
  uint32_t lowest = g.paths.index_at(pos);
  if (lowest == from) {
    g.paths.set_index(pos, to);
    return;
  }
  std::set<uint32_t>& rest = g.path_repeats[name];
  rest.erase(from);
  if (to < lowest) {
    rest.insert(lowest);
    g.paths.set_index(pos, to);
  } else {
    rest.insert(to);
  }
}

void build_paths() {
  g.paths.reset(g.files.size());
  g.path_repeats.clear();
  for (uint32_t i = 0; i < g.files.size(); ++i) add_path_key(i);
  g.paths_built = true;
}

void add_digest_key(uint32_t i) {
  const unsigned char* d = g.hashes[i].bytes;
  uint32_t h = digest_hash(d);
  if (g.digests.find(h, [d](uint32_t k) { return memcmp(g.hashes[k].bytes, d, 16) == 0; }) ==
      flat_index::npos)
    g.digests.insert(h, i);
}

void build_digests() {
  g.digests.reset(g.hashes.size());
  for (uint32_t i = 0; i < g.hashes.size(); ++i) add_digest_key(i);
  g.digests_built = true;
}

void count(int32_t hashid, int delta) {
  if (hashid < 0) return;  // never matches an index below hashnum
  if (static_cast<uint32_t>(hashid) < g.counts.size()) {
    g.counts[hashid] += delta;
    return;
  }
  auto it = g.pending_counts.try_emplace(hashid, 0).first;
  it->second += delta;
  if (it->second == 0) g.pending_counts.erase(it);
}

void build_counts() {
  g.counts.assign(g.hashes.size(), 0);
  g.pending_counts.clear();
  for (const fileentry& e : g.files) count(e.hashid, 1);
  g.counts_built = true;
}

void build_chains() {
  g.chain_heads.assign(g.hashes.size(), kNone);
  g.chain_next.assign(g.files.size(), kNone);
  for (uint32_t i = static_cast<uint32_t>(g.files.size()); i-- > 0;) {
    int32_t h = g.files[i].hashid;
    if (h < 0 || static_cast<uint32_t>(h) >= g.hashes.size()) continue;
    g.chain_next[i] = g.chain_heads[h];
    g.chain_heads[h] = i;
  }
  g.chains_generation = g.generation;
}

void drop_indexes() {
  g.paths_built = g.digests_built = g.counts_built = false;
  g.paths.release();
  g.digests.release();
  std::unordered_map<std::string, std::set<uint32_t>>().swap(g.path_repeats);
  std::vector<uint32_t>().swap(g.counts);
  std::unordered_map<int32_t, uint32_t>().swap(g.pending_counts);
  std::vector<uint32_t>().swap(g.chain_heads);
  std::vector<uint32_t>().swap(g.chain_next);
  ++g.generation;
}

}  // namespace

namespace tables {

uint64_t paths_dropped() { return g.paths_dropped; }

uint32_t hashnum() { return static_cast<uint32_t>(g.hashes.size()); }
uint32_t filenum() { return static_cast<uint32_t>(g.files.size()); }

fileentry* file_at(uint32_t index) { return index < g.files.size() ? &g.files[index] : nullptr; }
unsigned char* hash_at(uint32_t index) {
  return index < g.hashes.size() ? g.hashes[index].bytes : nullptr;
}

uint32_t append_file(fileentry* entry) {
  g.files.push_back(*entry);
  free(entry);
  uint32_t i = filenum() - 1;
  if (g.paths_built) add_path_key(i);
  if (g.counts_built) count(g.files[i].hashid, 1);
  ++g.generation;
  return i;
}

int32_t append_hash(const unsigned char* bytes) {
  digest d;
  memcpy(d.bytes, bytes, 16);
  g.hashes.push_back(d);
  uint32_t i = hashnum() - 1;
  if (g.digests_built) add_digest_key(i);
  if (g.counts_built) {
    uint32_t waiting = 0;
    auto it = g.pending_counts.find(static_cast<int32_t>(i));
    if (it != g.pending_counts.end()) {
      waiting = it->second;
      g.pending_counts.erase(it);
    }
    g.counts.push_back(waiting);
  }
  ++g.generation;
  return static_cast<int32_t>(i);
}

void remove_file(uint32_t index) {
  ++g.paths_dropped;
  uint32_t last = filenum() - 1;
  if (g.paths_built) {
    drop_path_key(index);
    if (index != last) move_path_key(last, index);
  }
  if (g.counts_built) count(g.files[index].hashid, -1);
  release_name(g.files[index].filename);
  g.files[index] = g.files[last];
  g.files.pop_back();
  ++g.generation;
}

void rename_file(uint32_t index, char* newname) {
  ++g.paths_dropped;
  if (g.paths_built) drop_path_key(index);
  release_name(g.files[index].filename);
  g.files[index].filename = newname;
  if (g.paths_built) add_path_key(index);
  ++g.generation;
}

void set_content(uint32_t index, int32_t hashid, uint32_t filesize) {
  fileentry& e = g.files[index];
  if (g.counts_built) {
    count(e.hashid, -1);
    count(hashid, 1);
  }
  e.hashid = hashid;
  e.filesize = filesize;
  ++g.generation;
}

void clear() {
  ++g.paths_dropped;
  for (fileentry& e : g.files) release_name(e.filename);
  std::vector<fileentry>().swap(g.files);
  std::vector<digest>().swap(g.hashes);
  free(g.names);
  g.names = nullptr;
  g.names_size = 0;
  drop_indexes();
}

void adopt(loaded* from) {
  ++g.paths_dropped;
  clear();
  g.files.swap(from->files);
  g.hashes.swap(from->hashes);
  g.names = from->names;
  g.names_size = from->names_size;
  from->names = nullptr;
  from->names_size = 0;
  ++g.generation;
}

int32_t find_hash(const unsigned char* digest) {
  if (!g.digests_built) build_digests();
  size_t pos = g.digests.find(digest_hash(digest), [digest](uint32_t k) {
    return memcmp(g.hashes[k].bytes, digest, 16) == 0;
  });
  return pos == flat_index::npos ? -1 : static_cast<int32_t>(g.digests.index_at(pos));
}

int32_t find_file(const char* path) {
  if (!g.paths_built) build_paths();
  size_t pos = find_path_slot(path, path_hash(path));
  return pos == flat_index::npos ? -1 : static_cast<int32_t>(g.paths.index_at(pos));
}

void find_files(const char* const* paths, size_t count, int32_t* found) {
  if (!g.paths_built) build_paths();
  std::vector<uint32_t> hashes(count);
  // Three rounds of fetching, one per step of a lookup: the slot, the entry it names, the
  // entry's path.
  for (size_t i = 0; i < count; ++i) {
    hashes[i] = path_hash(paths[i]);
    __builtin_prefetch(g.paths.home(hashes[i]));
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t at = g.paths.index_at_home(hashes[i]);
    if (at != flat_index::npos) __builtin_prefetch(&g.files[at]);
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t at = g.paths.index_at_home(hashes[i]);
    if (at != flat_index::npos) __builtin_prefetch(g.files[at].filename);
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t pos = find_path_slot(paths[i], hashes[i]);
    found[i] = pos == flat_index::npos ? -1 : static_cast<int32_t>(g.paths.index_at(pos));
  }
}

int32_t count_files(uint32_t hashid) {
  if (hashid >= g.hashes.size()) return 0;
  if (!g.counts_built) build_counts();
  return static_cast<int32_t>(g.counts[hashid]);
}

int32_t next_file_with_hash(uint32_t from, int32_t hashid) {
  uint32_t n = filenum();
  if (from >= n) return -1;
  if (hashid >= 0 && static_cast<uint32_t>(hashid) < g.hashes.size()) {
    if (g.chains_generation != g.generation) build_chains();
    auto as_index = [](uint32_t i) { return i == kNone ? -1 : static_cast<int32_t>(i); };
    if (from == 0) return as_index(g.chain_heads[hashid]);
    if (g.files[from - 1].hashid == hashid) return as_index(g.chain_next[from - 1]);
    // A walk that skipped ahead: the chain does not know where it stands, so scan.
  }
  for (uint32_t i = from; i < n; ++i)
    if (g.files[i].hashid == hashid) return static_cast<int32_t>(i);
  return -1;
}

}  // namespace tables
