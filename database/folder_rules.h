// The rules of a folder walk that the walk and the scout running ahead of it share: which
// names are taken, how paths are joined, and which folders one walk enters.
#ifndef VARNELO_DATABASE_FOLDER_RULES_H_
#define VARNELO_DATABASE_FOLDER_RULES_H_

#include <stddef.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"

namespace folder_rules {

// True when the name's text from its last "." is exactly ".mp3" (case-sensitive).
bool has_mp3_extension(const std::string& name);

// dir + separator + name.
std::string join(const std::string& dir, const std::string& name);
// The same into *path, whose memory is used again.
void join_into(const std::string& dir, const std::string& name, std::string* path);

// One folder of a walk as it is entered: open, listed, and known by its identity.
struct listing {
  platform::unique_fd folder;
  platform::folder_id id;
  std::vector<platform::dir_entry> entries;
  int error = 0;  // errno when it could not be listed, or its listing broke off
};

// Opens and lists the chosen folder of a walk by its path (any length), or, with parent an
// open folder, the folder named name in it. False when nothing could be listed (out->error
// tells why); a listing that broke off keeps the entries read and sets out->error.
bool enter_chosen(const std::string& path, listing* out);
bool enter_at(int parent, const std::string& name, listing* out);

// Which folders one walk enters. Each folder at most once: a link or bind mount leading
// back up the tree, or to a folder the walk has already been through, would otherwise make
// the walk endless, or exponential in the number of links. And below the chosen folder
// nothing on a file system the kernel makes up (/proc, /sys and the like), reached
// through a link or mount point: those hold no user files but links all over the system.
class folder_guard {
 public:
  // True when the walk may enter the open folder, listed as id, reached from a folder
  // listed as parent (null for the chosen folder); the folder then counts as entered.
  bool enter(int folder, const platform::folder_id& id, const platform::folder_id* parent);

 private:
  struct id_hash {
    size_t operator()(const platform::folder_id& id) const {
      return std::hash<unsigned long long>()(static_cast<unsigned long long>(id.inode) * 31 +
                                             static_cast<unsigned long long>(id.device));
    }
  };
  std::unordered_set<platform::folder_id, id_hash> entered_;
};

}  // namespace folder_rules

#endif  // VARNELO_DATABASE_FOLDER_RULES_H_
