// Internal to the cleanup library: what a copy on disk is right now, read again before
// anything is removed: which file a path names, and whether it still holds a group's content.
#ifndef VARNELO_CLEANUP_COPY_CHECK_H_
#define VARNELO_CLEANUP_COPY_CHECK_H_

#include <sys/types.h>

#include <optional>
#include <string>

#include "cleanup/groups.h"
#include "platform/platform.h"

namespace cleanup {

// The file a path names on disk, links followed: two paths name one file when these agree.
struct file_identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const file_identity&) const = default;
};

std::optional<file_identity> identity_of(const std::string& path);

// What the path names now (links followed), as platform::state_of tells it of an open file.
bool state_of_path(const std::string& path, platform::file_state* state);

enum class copy_check {
  holds_content,  // a regular file whose audio region has the digest
  gone,           // nothing at the path (or a link to nothing)
  not_regular,    // a folder, FIFO, device or the like
  changed,        // another digest, or no audio left to digest
  changing,       // it changed, or the path was pointed elsewhere, while it was read
};

// Reads the copy at path again and compares its content digest with digest. On
// holds_content, state tells what the file looked like while it was read.
copy_check check_copy(const std::string& path, const digest_bytes& digest,
                      platform::file_state* state);

// Words for a check that failed: "gone", "its content changed since it was added", ...
const char* check_text(copy_check check);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_COPY_CHECK_H_
