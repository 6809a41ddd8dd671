// Moving one file on disk into another folder without ever replacing a file there: a rename
// within a file system; across file systems a copy that is synced and read back, compared
// with what was read from the original, and only then the original's removal.
#ifndef VARNELO_CLEANUP_FILE_MOVE_H_
#define VARNELO_CLEANUP_FILE_MOVE_H_

#include <string>

namespace cleanup {

struct move_outcome {
  bool moved = false;
  bool copied = false;    // across file systems: copied, verified, then the original removed
  std::string new_path;   // where the file is now, when moved
  std::string reason;     // why it was not moved
};

// Moves the regular file at path (not a link, a folder or anything else) into folder under
// its own name. Refused when a file of that name is already there, when the file already lies
// in folder, or when it changes while it is copied; a failed copy leaves nothing behind and
// the original where it was. A copy keeps the file's permission bits and times. The database
// is not touched: the caller gives the entry its new path.
move_outcome move_into_folder(const std::string& path, const std::string& folder);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_FILE_MOVE_H_
