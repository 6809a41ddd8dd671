// The facts of the files the tree has shown, read once each and only when a row asks, so a
// listing of a million files reads only the few dozen on screen.
#ifndef VARNELO_UI_TAG_CACHE_H_
#define VARNELO_UI_TAG_CACHE_H_

#include <stddef.h>
#include <stdint.h>

#include <unordered_map>

#include "ui/tag_columns.h"

class tag_cache {
 public:
  // At most this many files are kept; beyond it the cache starts afresh.
  explicit tag_cache(size_t limit = 20000) : limit_(limit) {}

  // The facts of file index file, whose path is path: read from disk the first time.
  const file_facts& facts(uint32_t file, const char* path);
  // Forgets every file (the file table changed, so indexes name other files).
  void clear() { cache_.clear(); }
  // How many files were read from disk since the cache was made.
  uint64_t reads() const { return reads_; }

 private:
  size_t limit_;
  uint64_t reads_ = 0;
  std::unordered_map<uint32_t, file_facts> cache_;
};

#endif  // VARNELO_UI_TAG_CACHE_H_
