// Counting a tree's ".mp3" files ahead of its walk, files and bytes, so that the walk's
// progress can tell how much is left: a thread of its own lists the tree by the walk's
// rules and looks up the size of each file that the tables did not list when the walk
// began (listed files are only looked at by the walk, so they cost no reading).
#ifndef VARNELO_DATABASE_TREE_COUNT_H_
#define VARNELO_DATABASE_TREE_COUNT_H_

#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "database/folder_rules.h"
#include "database/walk_stop.h"

namespace tree_count {

class counter {
 public:
  // Notes which paths the tables list now (on the calling thread, which owns them) and
  // starts counting below root, a folder path without trailing separator; the counts go to
  // walk_progress as they grow. Nothing is counted when no thread can be started. Throws
  // std::bad_alloc when the listed paths cannot be noted.
  counter(const std::string& root, const walk_stop::flag* stop);
  // Stops the count where it is and waits for its thread; from then on it reports nothing.
  ~counter();
  counter(const counter&) = delete;
  counter& operator=(const counter&) = delete;

 private:
  void run(std::string root);
  bool count_folder(const std::string& dir, folder_rules::listing& here,
                    const platform::folder_id* parent, folder_rules::folder_guard* guard);
  bool listed(const std::string& path) const;
  bool may_go_on() const;

  const walk_stop::flag* const stop_;
  std::vector<uint64_t> listed_;  // hashes of the paths listed when the walk began, sorted
  std::atomic<bool> stopping_{false};
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
  std::thread thread_;
};

}  // namespace tree_count

#endif  // VARNELO_DATABASE_TREE_COUNT_H_
