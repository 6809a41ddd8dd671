// An open-addressing hash index from a key to a table index. The keys themselves live in
// the tables (paths, digests); a slot holds only the key's hash and the index, so the index
// costs 8 bytes per slot and never copies a key.
#ifndef VARNELO_DATABASE_FLAT_INDEX_H_
#define VARNELO_DATABASE_FLAT_INDEX_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

class flat_index {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  // Drops every slot and makes room for expected keys without growing.
  void reset(size_t expected) {
    size_t cap = 16;
    while (cap < expected * 2) cap *= 2;
    std::vector<slot>(cap).swap(slots_);
    used_ = 0;
  }
  void release() {
    std::vector<slot>().swap(slots_);
    used_ = 0;
  }
  size_t size() const { return used_; }

  // The slot whose index satisfies same_key(index), or npos. Probing stops at an empty
  // slot, so this costs a few probes at the load factor kept below one half.
  template <typename SameKey>
  size_t find(uint32_t hash, SameKey same_key) const {
    if (slots_.empty()) return npos;
    size_t mask = slots_.size() - 1;
    for (size_t pos = hash & mask;; pos = (pos + 1) & mask) {
      const slot& s = slots_[pos];
      if (s.ref == 0) return npos;
      if (s.hash == hash && same_key(s.ref - 1)) return pos;
    }
  }
  // The slot that holds exactly this index, or npos.
  size_t find_index(uint32_t hash, uint32_t index) const {
    return find(hash, [index](uint32_t i) { return i == index; });
  }
  uint32_t index_at(size_t pos) const { return slots_[pos].ref - 1; }
  // Where a key of this hash is looked for first, to be fetched into the cache ahead of a
  // find (null when there are no slots), and the index held there (npos when none).
  const void* home(uint32_t hash) const {
    return slots_.empty() ? nullptr : &slots_[hash & (slots_.size() - 1)];
  }
  size_t index_at_home(uint32_t hash) const {
    if (slots_.empty()) return npos;
    const slot& s = slots_[hash & (slots_.size() - 1)];
    return s.ref == 0 ? npos : s.ref - 1;
  }
  void set_index(size_t pos, uint32_t index) { slots_[pos].ref = index + 1; }

  // Adds a key that is not yet present.
  void insert(uint32_t hash, uint32_t index) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    size_t mask = slots_.size() - 1;
    size_t pos = hash & mask;
    while (slots_[pos].ref != 0) pos = (pos + 1) & mask;
    slots_[pos] = slot{hash, index + 1};
    ++used_;
  }

  // Empties a slot and shifts the following run back so that no probe sequence breaks.
  void erase(size_t pos) {
    size_t mask = slots_.size() - 1;
    size_t hole = pos;
    for (size_t next = (hole + 1) & mask; slots_[next].ref != 0; next = (next + 1) & mask) {
      size_t home = slots_[next].hash & mask;
      // Move next into the hole unless its home lies cyclically in (hole, next].
      bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
      if (!stays) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = slot{};
    --used_;
  }

 private:
  struct slot {
    uint32_t hash = 0;
    uint32_t ref = 0;  // index + 1; 0 marks an empty slot
  };

  void grow() {
    std::vector<slot> old;
    old.swap(slots_);
    slots_.resize(old.empty() ? 16 : old.size() * 2);
    size_t mask = slots_.size() - 1;
    for (const slot& s : old) {
      if (s.ref == 0) continue;
      size_t pos = s.hash & mask;
      while (slots_[pos].ref != 0) pos = (pos + 1) & mask;
      slots_[pos] = s;
    }
  }

  std::vector<slot> slots_;
  size_t used_ = 0;
};

#endif  // VARNELO_DATABASE_FLAT_INDEX_H_
