// What the database needs of the operating system: opening regular files for reading,
// listing a folder, deleting a file, and the event pump of a folder walk.
#ifndef VARNELO_PLATFORM_PLATFORM_H_
#define VARNELO_PLATFORM_PLATFORM_H_

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "database/mp3_db.h"

namespace platform {

// The path separator of folder joins and trims.
constexpr char kSeparator = '/';

struct file_closer {
  void operator()(FILE* f) const { fclose(f); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

// Opens path for reading ("rb") only if it is a regular file: folders, FIFOs, devices
// and sockets count as not openable, and opening never blocks. Null on failure.
unique_file open_regular(const char* path);

// One entry of a folder listing.
struct dir_entry {
  std::string name;
  bool is_folder;
};

// Lists a folder ("." and ".." left out) in the order the system delivers the entries.
// Returns false when the folder cannot be listed.
bool list_folder(const char* dir, std::vector<dir_entry>* entries);

// Deletes a file (a symbolic link is deleted as the link). True when it is gone.
bool delete_path(const char* path);

// Handles the pending events of hwnd through the registered pump; nothing without one.
void pump_events(window_handle hwnd);

}  // namespace platform

#endif  // VARNELO_PLATFORM_PLATFORM_H_
