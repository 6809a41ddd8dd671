// Helpers shared by the folder walk and the scout that runs ahead of it.
#ifndef VARNELO_DATABASE_FOLDER_WALK_H_
#define VARNELO_DATABASE_FOLDER_WALK_H_

#include <stddef.h>

#include <string>
#include <unordered_set>

#include "database/prehash.h"
#include "platform/platform.h"

namespace folder_walk {

// True when the name's text from its last "." is exactly ".mp3" (case-sensitive).
bool has_mp3_extension(const std::string& name);

// dir + separator + name.
std::string join(const std::string& dir, const std::string& name);

// Which folders one walk enters. Each folder at most once: a link or bind mount leading
// back up the tree, or to a folder the walk has already been through, would otherwise make
// the walk endless, or exponential in the number of links. And below the chosen folder
// nothing on a file system the kernel makes up (/proc, /sys and the like), reached
// through a link or mount point: those hold no user files but links all over the system.
class folder_guard {
 public:
  // True when the walk may enter the folder listed at dir as id, reached from a folder
  // listed as parent (null for the chosen folder); the folder then counts as entered.
  bool enter(const std::string& dir, const platform::folder_id& id,
             const platform::folder_id* parent);

 private:
  struct id_hash {
    size_t operator()(const platform::folder_id& id) const {
      return std::hash<unsigned long long>()(static_cast<unsigned long long>(id.inode) * 31 +
                                             static_cast<unsigned long long>(id.device));
    }
  };
  std::unordered_set<platform::folder_id, id_hash> entered_;
};

// What the hashers of the last outermost walk did (zeros when it hashed on the calling
// thread only).
prehash::counters last_walk_counters();

}  // namespace folder_walk

#endif  // VARNELO_DATABASE_FOLDER_WALK_H_
