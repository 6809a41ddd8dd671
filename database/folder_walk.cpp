// Walking a folder tree depth-first and offering every ".mp3" entry to the database.
#include "database/folder_walk.h"

#include <string.h>

#include <memory>
#include <vector>

#include "database/adding.h"
#include "database/mp3_db.h"
#include "platform/platform.h"

namespace {

// The walk state shared by every nesting depth, and by walks started while another is
// still on the stack.
int g_files_new = 0;
int g_level = 0;
prehash::counters g_last_counters;

// What one add_directory call from outside keeps while it descends. Nothing in it
// points into the tables, which a command run from the callback or the event pump may
// change at any time.
struct walk {
  // A walk started from the callback keeps its own: it was asked for on its own and must
  // cover its folder even where the walk below it has been, and it is bounded by itself.
  folder_walk::folder_guard guard;
  std::unique_ptr<prehash::pipeline> ahead;
  audio_region::read_buffer buffer;
};

int walk_folder(const std::string& dir, const platform::folder_id* parent, change_cb cb,
                window_handle hwnd, walk& w) {
  ++g_level;
  std::vector<platform::dir_entry> entries;
  platform::folder_id id;
  // Listing dir + separator keeps an emptied root ("/" trimmed to "") meaning the root.
  if (!platform::list_folder((dir + platform::kSeparator).c_str(), &entries, &id) ||
      !w.guard.enter(dir, id, parent)) {
    --g_level;
    if (g_level == 0) g_files_new = 0;
    return 0;
  }
  for (const platform::dir_entry& e : entries) {
    const std::string path = folder_walk::join(dir, e.name);
    if (e.is_folder) walk_folder(path, &id, cb, hwnd, w);
    if (folder_walk::has_mp3_extension(e.name)) {
      if (adding::add_file(path.c_str(), w.ahead.get(), w.buffer) != 0) ++g_files_new;
      if (cb != nullptr && cb(g_files_new, g_level, e.name.c_str(), dir.c_str(), hwnd) == 0) {
        // The walk is winding down: what would be hashed ahead would mostly go unused.
        if (w.ahead) w.ahead->halt();
        break;
      }
    }
    platform::pump_events(hwnd);
    if (w.ahead) w.ahead->top_up();
  }
  if (cb != nullptr) cb(g_files_new, -1, "", dir.c_str(), hwnd);
  --g_level;
  const int result = g_files_new;
  if (g_level == 0) g_files_new = 0;
  return result;
}

}  // namespace

namespace folder_walk {

bool has_mp3_extension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".mp3") == 0;
}

std::string join(const std::string& dir, const std::string& name) {
  std::string path;
  path.reserve(dir.size() + 1 + name.size());
  path += dir;
  path += platform::kSeparator;
  path += name;
  return path;
}

bool folder_guard::enter(const std::string& dir, const platform::folder_id& id,
                         const platform::folder_id* parent) {
  if (entered_.count(id) != 0) return false;
  // Every such file system is a device of its own, so only a change of device is looked
  // into; a chosen folder on one is walked as asked.
  if (parent != nullptr && parent->device != id.device &&
      platform::on_kernel_file_system((dir + platform::kSeparator).c_str()))
    return false;
  entered_.insert(id);
  return true;
}

prehash::counters last_walk_counters() { return g_last_counters; }

}  // namespace folder_walk

// The walk pumps the window it was given between entries; the platform layer keeps the hook.
void mp3db_set_event_pump(event_pump pump) { platform::set_event_pump(pump); }

int add_directory(char* dir, change_cb cb, window_handle hwnd) {
  if (dir == nullptr) return 0;
  size_t n = strlen(dir);
  if (n > 0 && dir[n - 1] == platform::kSeparator) dir[n - 1] = '\0';

  walk w;
  const bool outermost = g_level == 0;
  const int hashers = adding::scan_hashers();
  // A walk started while another is on the stack hashes on the calling thread only.
  if (outermost && hashers > 1)
    w.ahead = std::make_unique<prehash::pipeline>(dir, hashers, adding::scan_lanes());
  const int result = walk_folder(dir, nullptr, cb, hwnd, w);
  if (outermost) g_last_counters = w.ahead ? w.ahead->snapshot() : prehash::counters{};
  return result;
}
