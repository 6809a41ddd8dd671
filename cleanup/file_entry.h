// Finding a file's database entry whatever spelling names it: the database holds one
// spelling of each path, while a user may name the file relatively, through a linked folder
// or with "..".
#ifndef VARNELO_CLEANUP_FILE_ENTRY_H_
#define VARNELO_CLEANUP_FILE_ENTRY_H_

#include <stdint.h>

#include <string>

namespace cleanup {

// The real path of a file: its path with every link and "." or ".." resolved, or, for a
// file that is gone, its folder's real path and its name. "" when neither resolves.
std::string canonical_file_path(const std::string& path);

// The index of the entry of the file at path (absolute): the entry of that exact path, or
// else of its real path, or else the first entry whose own real path is the same. -1 when
// no entry names the file.
int32_t find_entry(const std::string& path);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_FILE_ENTRY_H_
