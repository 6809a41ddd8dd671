// Internal to the cleanup library: moving a file to the desktop's trash (the freedesktop.org
// trash that file managers restore from), through GIO.
#ifndef VARNELO_CLEANUP_TRASH_H_
#define VARNELO_CLEANUP_TRASH_H_

#include <string>

namespace cleanup {

enum class trash_result {
  moved,     // the file is in the trash, with a .trashinfo telling where it came from
  no_trash,  // its file system has no usable trash (or none can be made); the file stays
  failed,    // the move failed (permissions, the file vanished); see the message
};

// Moves the file (a symbolic link as the link) at path to the trash: the home trash for a file
// on the home folder's file system, otherwise the trash folder at the top of the file's own
// file system (.Trash/UID or .Trash-UID). The home trash is found through HOME and
// XDG_DATA_HOME as they are when GIO is first used in the process. message tells why it failed.
trash_result move_to_trash(const std::string& path, std::string* message);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_TRASH_H_
