// The report of what a walk could not take, and its public reader.
#include "database/walk_report.h"

#include <new>
#include <vector>

#include "database/mp3_db.h"

namespace {

struct problem {
  std::string path;
  bool is_folder;
  int error;
};

uint32_t g_folders_unlisted = 0;
uint32_t g_files_unread = 0;
std::vector<problem> g_named;

void note(const std::string& path, bool is_folder, int error) {
  if (g_named.size() >= static_cast<size_t>(mp3db_walk_named)) return;
  // The count is what matters; a name that cannot be kept is left out.
  try {
    g_named.push_back({path, is_folder, error});
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

namespace walk_report {

void begin() {
  g_folders_unlisted = 0;
  g_files_unread = 0;
  g_named.clear();
}

void folder_unlisted(const std::string& path, int error) {
  ++g_folders_unlisted;
  note(path, true, error);
}

void file_unread(const std::string& path, int error) {
  ++g_files_unread;
  note(path, false, error);
}

}  // namespace walk_report

void mp3db_get_walk_report(mp3db_walk_report* report) {
  if (report == nullptr) return;
  *report = {};
  report->folders_unlisted = g_folders_unlisted;
  report->files_unread = g_files_unread;
  report->named = static_cast<uint32_t>(g_named.size());
  for (size_t i = 0; i < g_named.size(); ++i)
    report->problems[i] = {g_named[i].path.c_str(), g_named[i].is_folder ? 1 : 0, g_named[i].error};
}
