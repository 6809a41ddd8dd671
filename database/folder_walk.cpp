// Walking a folder tree depth-first and offering every ".mp3" entry to the database.
//
// The walk holds each folder on its way down open and reaches what a folder holds through
// it, so no system call gets a whole path and depth does not matter; the paths it hands on
// (to file_add's tables and the callback) are still the full joined strings.
#include "database/folder_walk.h"

#include <errno.h>
#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "database/adding.h"
#include "database/folder_rules.h"
#include "database/mp3_db.h"
#include "database/tree_count.h"
#include "database/walk_progress.h"
#include "database/walk_report.h"
#include "database/walk_stop.h"
#include "platform/platform.h"

namespace {

// The walk state shared by every nesting depth, and by walks started while another is
// still on the stack.
int g_files_new = 0;
int g_level = 0;
// Whether a walk on the stack has noticed a stop request; the outermost one uses it up.
bool g_stop_noticed = false;
bool g_count_tree = false;
prehash::counters g_last_counters;

// What one add_directory call from outside keeps while it descends. Nothing in it
// points into the tables, which a command run from the callback or the event pump may
// change at any time.
struct walk {
  // A walk started from the callback keeps its own: it was asked for on its own and must
  // cover its folder even where the walk below it has been, and it is bounded by itself.
  folder_rules::folder_guard guard;
  std::unique_ptr<prehash::pipeline> ahead;
  audio_region::read_buffer buffer;
  int64_t files_met = 0;  // ".mp3" entries that are no folders, as the scout counts them
  bool wound_down = false;  // the callback asked to stop
};

// True once a stop was requested; from then on the whole walk stops.
bool stop_noticed() {
  if (!g_stop_noticed && walk_stop::requested()) g_stop_noticed = true;
  return g_stop_noticed;
}

// Leaves a folder level: the result of add_directory for it.
int leave_level() {
  --g_level;
  const int result = g_files_new;
  if (g_level == 0) g_files_new = 0;
  return result;
}

int walk_folder(const std::string& dir, const folder_rules::listing& here, change_cb cb,
                window_handle hwnd, walk& w);

// Enters the folder name of the open folder parent (or, with parent null, the chosen
// folder at dir) and walks it. Returns the walk's count, or 0 when it was not entered.
int descend(const std::string& dir, const folder_rules::listing* parent, const std::string& name,
            change_cb cb, window_handle hwnd, walk& w) {
  ++g_level;
  if (stop_noticed()) {
    leave_level();
    return 0;
  }
  folder_rules::listing here;
  const bool listed = parent != nullptr ? folder_rules::enter_at(parent->folder.get(), name, &here)
                                        : folder_rules::enter_chosen(dir, &here);
  if (!listed) {
    walk_report::folder_unlisted(dir, here.error);
    leave_level();
    return 0;
  }
  if (!w.guard.enter(here.folder.get(), here.id, parent != nullptr ? &parent->id : nullptr)) {
    leave_level();
    return 0;
  }
  // A listing that broke off is walked as far as it was read.
  if (here.error != 0) walk_report::folder_unlisted(dir, here.error);
  return walk_folder(dir, here, cb, hwnd, w);
}

// Offers one ".mp3" entry to the tables. False when a stop was noticed and nothing more
// may be added.
bool offer(const std::string& path, const folder_rules::listing& here,
           const platform::dir_entry& e, walk& w) {
  if (stop_noticed()) return false;
  const adding::file_place place = {here.folder.get(), e.name.c_str(),
                                    e.is_folder ? -1 : w.files_met++};
  const adding::add_outcome added =
      adding::add_file(path.c_str(), &place, w.ahead.get(), w.buffer, &walk_stop::request());
  if (!e.is_folder) walk_progress::file_passed(added.bytes_read);
  switch (added.what) {
    case adding::result::added:
      ++g_files_new;
      break;
    case adding::result::unreadable:
      // A folder named like a song was walked as a folder; it is no file left out.
      if (!(e.is_folder && added.error == EISDIR)) walk_report::file_unread(path, added.error);
      break;
    case adding::result::stopped:
      g_stop_noticed = true;
      return false;
    case adding::result::passed_over:
      break;
  }
  return true;
}

int walk_folder(const std::string& dir, const folder_rules::listing& here, change_cb cb,
                window_handle hwnd, walk& w) {
  std::string path;  // one string for every entry's path: no allocation for each
  for (const platform::dir_entry& e : here.entries) {
    if (stop_noticed()) break;
    folder_rules::join_into(dir, e.name, &path);
    if (e.is_folder) descend(path, &here, e.name, cb, hwnd, w);
    if (folder_rules::has_mp3_extension(e.name)) {
      if (!offer(path, here, e, w)) break;
      if (cb != nullptr && cb(g_files_new, g_level, e.name.c_str(), dir.c_str(), hwnd) == 0) {
        w.wound_down = true;
        // The walk is winding down: what would be hashed ahead would mostly go unused.
        if (w.ahead) w.ahead->halt();
        break;
      }
    }
    platform::pump_events(hwnd);
    if (w.ahead) w.ahead->top_up_if_low();
  }
  if (g_stop_noticed && w.ahead) w.ahead->halt();
  if (cb != nullptr) cb(g_files_new, -1, "", dir.c_str(), hwnd);
  return leave_level();
}

}  // namespace

namespace folder_walk {

prehash::counters last_walk_counters() { return g_last_counters; }

}  // namespace folder_walk

// The walk pumps the window it was given between entries; the platform layer keeps the hook.
void mp3db_set_event_pump(event_pump pump) { platform::set_event_pump(pump); }

void mp3db_set_walk_count(int on) { g_count_tree = on != 0; }

int add_directory(char* dir, change_cb cb, window_handle hwnd) {
  if (dir == nullptr) return 0;
  size_t n = strlen(dir);
  if (n > 0 && dir[n - 1] == platform::kSeparator) dir[n - 1] = '\0';

  walk w;
  const bool outermost = g_level == 0;
  std::unique_ptr<tree_count::counter> count;
  const bool count_tree = outermost && g_count_tree;
  if (outermost) {
    walk_report::begin();
    walk_progress::begin();
    // Without memory for counting, the walk goes on without totals.
    try {
      if (count_tree && !stop_noticed())
        count = std::make_unique<tree_count::counter>(dir, &walk_stop::request());
    } catch (const std::bad_alloc&) {
    }
  }
  const int hashers = adding::scan_hashers();
  // A walk started while another is on the stack hashes on the calling thread only.
  if (outermost && hashers > 1 && !stop_noticed()) {
    // Without memory for hashing ahead the walk hashes on this thread alone.
    try {
      w.ahead = std::make_unique<prehash::pipeline>(dir, hashers, adding::scan_lanes(),
                                                    &walk_stop::request());
    } catch (const std::bad_alloc&) {
    }
  }
  const int result = descend(dir, nullptr, "", cb, hwnd, w);
  if (outermost) {
    count.reset();
    // A count still under way (a walk through listed files may end first) gives way to
    // what the walk met; a stopped walk keeps the totals counted so far.
    if (count_tree && !g_stop_noticed && !w.wound_down) walk_progress::walked_whole();
    g_last_counters = w.ahead ? w.ahead->snapshot() : prehash::counters{};
    w.ahead.reset();
    // The request this walk stopped for is used up; the next walk runs as usual.
    if (g_stop_noticed) walk_stop::clear();
    g_stop_noticed = false;
  }
  return result;
}
