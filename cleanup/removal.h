// Safe removal of duplicate copies, the one implementation both programs use: a copy goes
// only while another copy of its group that stays still holds the content, and by default
// it goes to the desktop's trash, from where it can be restored.
#ifndef VARNELO_CLEANUP_REMOVAL_H_
#define VARNELO_CLEANUP_REMOVAL_H_

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "cleanup/groups.h"
#include "cleanup/plan.h"

namespace cleanup {

enum class removal_method {
  trash,      // moved to the freedesktop.org trash (restorable); the default
  permanent,  // unlinked
};

enum class outcome_kind {
  trashed,       // a copy moved to the trash, its database entry removed
  deleted,       // a copy unlinked, its database entry removed
  skipped,       // a copy to go that was not removed; reason says why
  kept_instead,  // a copy to go kept because no copy that was to stay holds the content
  stale,         // a copy that was to stay no longer holds the content (or vanished)
};

struct file_outcome {
  std::string path;
  outcome_kind kind;
  std::string reason;  // for skipped, kept_instead and stale
  uint64_t size = 0;   // bytes of a removed file
};

// One group as the caller chose: copies that stay and copies to go, all of one content.
struct removal_group {
  digest_bytes digest;
  std::vector<std::string> stay;  // the first that still holds the content is the kept copy
  std::vector<std::string> go;    // removed in this order
  // When no copy that stays holds the content any more, the first copy to go that does is
  // kept instead (a plan's order says which is next best). Otherwise the group is left alone.
  bool keep_a_copy_to_go = false;
  // The user confirmed that every copy goes: with no copy to stay (and none kept instead) the
  // copies to go are removed all the same, each still checked (protected folders, its content,
  // not the same file as one that stays). Nothing else ever empties a group.
  bool may_empty = false;
};

struct removal_options {
  removal_method method = removal_method::trash;
  // Real paths of folders whose files are never removed, whatever the groups say.
  std::vector<std::string> protected_folders;
  // Told each group's kept copy (null when no copy holds the content: the group is left
  // alone, or emptied where may_empty allows) before any of its copies goes; false stops.
  std::function<bool(const removal_group& group, const std::string* kept)> on_group;
  // Asked right before each removal, once every check has passed; false stops, and that
  // copy and all after it stay (the caller's record of removals can no longer be written).
  std::function<bool(const std::string& path)> may_remove;
  // Told every outcome as it happens; false stops before the next file (an output failed).
  std::function<bool(const file_outcome&)> on_file;
  // Told after every copy to go (removed or not) how many of all are done; false stops.
  std::function<bool(uint64_t done, uint64_t total)> on_progress;
};

struct removal_summary {
  uint64_t trashed = 0, deleted = 0, skipped = 0;
  uint64_t no_trash = 0;        // of the skipped: on a file system without a usable trash
  uint64_t bytes_removed = 0;   // sizes of the trashed and deleted files
  uint64_t groups_stopped = 0;  // groups given up because no copy that stays held the content
  bool stopped = false;         // a callback asked to stop
};

// Removes the copies to go of every group, checking each right before:
//  - the group's kept copy exists and still has the digest (read again); without one, no
//    copy of the group is removed (or one to go is kept instead, see keep_a_copy_to_go);
//  - the copy lies under no protected folder, is a regular file (links followed) that still
//    has the digest (read again), and is not the same file (device and inode, links
//    followed) as the kept copy or any copy that stays;
//  - a copy that became a symbolic link is removed as the link, never its target;
//  - after each removal the kept copy is looked at again, and when it is gone (one file
//    under two mounts) the rest of its group stays.
// A removed copy's database entry is removed by its path (file_delete). A file system
// without a usable trash leaves the copy where it is (skipped; no_trash counts it).
removal_summary remove_copies(const std::vector<removal_group>& groups,
                              const removal_options& options);

// The groups of a plan as removal sees them: the kept copy and the protected copies stay,
// the copies to go follow in the plan's order and the next of them is kept should the kept
// one be lost. Groups left alone and groups with nothing to go are left out.
std::vector<removal_group> removal_groups_of(const cleanup_plan& plan);

// Removes one file the user named, and its database entry, without looking for other copies:
// the file must be a regular file (links followed); a link is removed as the link. The
// outcome is trashed, deleted or skipped.
file_outcome remove_file(const std::string& path, removal_method method);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_REMOVAL_H_
