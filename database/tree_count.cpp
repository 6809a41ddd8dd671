// The thread that counts a tree ahead of its walk.
#include "database/tree_count.h"

#include <algorithm>
#include <functional>
#include <new>
#include <string_view>
#include <system_error>

#include "database/tables.h"
#include "database/walk_progress.h"
#include "platform/platform.h"

namespace tree_count {

namespace {

// The counts reach the walk's progress after this many files, and at the end.
constexpr uint64_t kReportEvery = 256;

uint64_t path_hash(std::string_view path) { return std::hash<std::string_view>()(path); }

}  // namespace

counter::counter(const std::string& root, const walk_stop::flag* stop) : stop_(stop) {
  // By hash alone: a path taken for listed by a clash only leaves its bytes out of an
  // estimate.
  listed_.reserve(tables::filenum());
  for (uint32_t i = 0; i < tables::filenum(); ++i)
    listed_.push_back(path_hash(tables::file_at(i)->filename));
  std::sort(listed_.begin(), listed_.end());
  try {
    const platform::signals_to_starter signals_to_caller;
    thread_ = std::thread(&counter::run, this, root);
  } catch (const std::system_error&) {
  }
}

counter::~counter() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

bool counter::listed(const std::string& path) const {
  return std::binary_search(listed_.begin(), listed_.end(), path_hash(path));
}

bool counter::may_go_on() const {
  return !stopping_.load(std::memory_order_relaxed) &&
         !(stop_ != nullptr && stop_->load(std::memory_order_relaxed));
}

void counter::run(std::string root) {
  bool complete = false;
  // A count without memory stops where it is; the walk goes on without its totals.
  try {
    folder_rules::folder_guard guard;
    folder_rules::listing top;
    complete = !folder_rules::enter_chosen(root, &top) ||
               count_folder(root, top, nullptr, &guard);
  } catch (const std::bad_alloc&) {
  }
  // A count stopped by its walk says nothing more: the walk sets the totals it met.
  if (!stopping_.load()) walk_progress::counted(files_, bytes_, complete);
}

// The walk's rules, as the scout follows them; false once the count is to stop.
bool counter::count_folder(const std::string& dir, folder_rules::listing& here,
                           const platform::folder_id* parent, folder_rules::folder_guard* guard) {
  if (!guard->enter(here.folder.get(), here.id, parent)) return true;
  for (const platform::dir_entry& e : here.entries) {
    if (!may_go_on()) return false;
    if (e.is_folder) {
      folder_rules::listing below;
      if (folder_rules::enter_at(here.folder.get(), e.name, &below) &&
          !count_folder(folder_rules::join(dir, e.name), below, &here.id, guard))
        return false;
    } else if (folder_rules::has_mp3_extension(e.name)) {
      ++files_;
      if (!listed(folder_rules::join(dir, e.name))) {
        const int64_t size = platform::regular_size_at(here.folder.get(), e.name.c_str());
        if (size > 0) bytes_ += static_cast<uint64_t>(size);
      }
      if (files_ % kReportEvery == 0) walk_progress::counted(files_, bytes_, false);
    }
  }
  return true;
}

}  // namespace tree_count
