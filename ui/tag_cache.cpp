// A bounded cache by file index.
#include "ui/tag_cache.h"

const file_facts& tag_cache::facts(uint32_t file, const char* path) {
  auto it = cache_.find(file);
  if (it != cache_.end()) return it->second;
  // Starting afresh keeps memory bounded; the rows on screen are read again at once.
  if (cache_.size() >= limit_) cache_.clear();
  ++reads_;
  return cache_.emplace(file, read_facts(path)).first->second;
}
