// Safe removal. Every check reads the disk again right before the step it guards, because
// the plan may be old: files can vanish, change, or become links between planning and now.
#include "cleanup/removal.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "cleanup/copy_check.h"
#include "cleanup/folders.h"
#include "cleanup/trash.h"
#include "database/mp3_db.h"
#include "platform/platform.h"

namespace cleanup {

namespace {

struct kept_copy {
  std::string path;
  platform::file_state state;
};

// True while the kept copy still holds the content: unchanged since it was verified, or read
// again and found to hold it (then its state, and what the path names, are taken anew).
bool still_holds(kept_copy* kept, const digest_bytes& digest) {
  platform::file_state now;
  if (state_of_path(kept->path, &now) && now == kept->state) return true;
  return check_copy(kept->path, digest, &kept->state) == copy_check::holds_content;
}

// Removes the file or link at path, never a folder. Sets the outcome's kind and reason.
void remove_path(const std::string& path, removal_method method, file_outcome* outcome,
                 bool* no_trash) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    outcome->kind = outcome_kind::skipped;
    outcome->reason = "gone";
    return;
  }
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    outcome->kind = outcome_kind::skipped;
    outcome->reason = "no longer a regular file";
    return;
  }
  if (method == removal_method::permanent) {
    if (platform::delete_path(path.c_str())) {
      outcome->kind = outcome_kind::deleted;
    } else {
      outcome->kind = outcome_kind::skipped;
      outcome->reason = std::string("cannot delete it: ") + strerror(errno);
    }
    return;
  }
  std::string message;
  switch (move_to_trash(path, &message)) {
    case trash_result::moved:
      outcome->kind = outcome_kind::trashed;
      return;
    case trash_result::no_trash:
      *no_trash = true;
      outcome->kind = outcome_kind::skipped;
      outcome->reason = "its file system has no usable trash (" + message +
                        "); only permanent deletion can remove it";
      return;
    case trash_result::failed:
      outcome->kind = outcome_kind::skipped;
      outcome->reason = "cannot move it to the trash: " + message;
      return;
  }
}

class remover {
 public:
  remover(const removal_options& options, uint64_t total) : options_(options), total_(total) {}

  void run(const removal_group& group);
  const removal_summary& summary() const { return summary_; }
  bool stopped() const { return summary_.stopped; }

 private:
  // Tells the caller; false when it asked to stop.
  bool tell(const file_outcome& outcome);
  bool step_done();
  std::optional<std::string> protected_folder_of(const std::string& path);
  // The first copy that stays and holds the content; the identities of all that stay.
  std::optional<kept_copy> find_kept(const removal_group& group,
                                     std::vector<file_identity>* staying);
  bool skip_rest(const removal_group& group, size_t from, const std::string& reason);
  // Removes every copy to go of a group the user chose to empty, each checked on its own.
  void empty(const removal_group& group, const std::vector<bool>& handled,
             std::vector<file_identity>* staying);
  // Checks the copy at path (see remove_copies) and removes it when every check passes; the
  // outcome says which. kept is the group's kept copy, or null when it is being emptied.
  file_outcome remove_if_allowed(const std::string& path, const digest_bytes& digest,
                                 const std::vector<file_identity>& staying,
                                 const kept_copy* kept);
  // Removes the copy at path (state as read by its check) and records the outcome.
  void remove_checked(const std::string& path, const platform::file_state& state,
                      file_outcome* outcome);

  const removal_options& options_;
  const uint64_t total_;
  uint64_t done_ = 0;
  removal_summary summary_;
  folder_resolver folders_;
};

bool remover::tell(const file_outcome& outcome) {
  switch (outcome.kind) {
    case outcome_kind::trashed:
      ++summary_.trashed;
      summary_.bytes_removed += outcome.size;
      break;
    case outcome_kind::deleted:
      ++summary_.deleted;
      summary_.bytes_removed += outcome.size;
      break;
    case outcome_kind::skipped:
      ++summary_.skipped;
      break;
    case outcome_kind::kept_instead:
    case outcome_kind::stale:
      break;
  }
  if (options_.on_file && !options_.on_file(outcome)) summary_.stopped = true;
  return !summary_.stopped;
}

bool remover::step_done() {
  ++done_;
  if (options_.on_progress && !options_.on_progress(done_, total_)) summary_.stopped = true;
  return !summary_.stopped;
}

std::optional<std::string> remover::protected_folder_of(const std::string& path) {
  for (const std::string& folder : options_.protected_folders)
    if (folders_.file_under(path, folder)) return folder;
  return std::nullopt;
}

std::optional<kept_copy> remover::find_kept(const removal_group& group,
                                            std::vector<file_identity>* staying) {
  std::optional<kept_copy> kept;
  for (const std::string& path : group.stay) {
    if (!kept) {
      platform::file_state state;
      const copy_check check = check_copy(path, group.digest, &state);
      if (check == copy_check::holds_content) {
        kept = kept_copy{path, state};
        staying->push_back({state.device, state.inode});
        continue;
      }
      if (!tell({path, outcome_kind::stale, check_text(check)})) return std::nullopt;
    }
    if (std::optional<file_identity> id = identity_of(path)) staying->push_back(*id);
  }
  return kept;
}

bool remover::skip_rest(const removal_group& group, size_t from, const std::string& reason) {
  for (size_t i = from; i < group.go.size(); ++i) {
    if (!tell({group.go[i], outcome_kind::skipped, reason}) || !step_done()) return false;
  }
  return true;
}

void remover::run(const removal_group& group) {
  std::vector<file_identity> staying;
  std::optional<kept_copy> kept = find_kept(group, &staying);
  if (stopped()) return;
  std::vector<bool> handled(group.go.size(), false);
  if (!kept && group.keep_a_copy_to_go) {
    for (size_t i = 0; i < group.go.size() && !kept; ++i) {
      platform::file_state state;
      if (check_copy(group.go[i], group.digest, &state) != copy_check::holds_content) continue;
      kept = kept_copy{group.go[i], state};
      staying.push_back({state.device, state.inode});
      handled[i] = true;
      if (!tell({group.go[i], outcome_kind::kept_instead,
                 "kept instead: no copy that was to stay still holds this content"}) ||
          !step_done())
        return;
    }
  }
  if (options_.on_group && !options_.on_group(group, kept ? &kept->path : nullptr)) {
    summary_.stopped = true;
    return;
  }
  if (!kept && group.may_empty) {
    empty(group, handled, &staying);
    return;
  }
  if (!kept) {
    ++summary_.groups_stopped;
    for (size_t i = 0; i < group.go.size(); ++i) {
      if (handled[i]) continue;
      if (!tell({group.go[i], outcome_kind::skipped,
                 "no copy that stays still holds this content"}) ||
          !step_done())
        return;
    }
    return;
  }

  for (size_t i = 0; i < group.go.size(); ++i) {
    if (handled[i]) continue;
    const std::string& path = group.go[i];
    // The kept copy may have changed since the last file (another program, another mount).
    if (!still_holds(&*kept, group.digest)) {
      ++summary_.groups_stopped;
      if (tell({kept->path, outcome_kind::stale, "no longer holds this content"}))
        skip_rest(group, i, "its group stopped: the kept copy no longer holds the content");
      return;
    }
    const file_identity kept_id{kept->state.device, kept->state.inode};
    if (std::find(staying.begin(), staying.end(), kept_id) == staying.end())
      staying.push_back(kept_id);

    file_outcome outcome = remove_if_allowed(path, group.digest, staying, &*kept);
    if (stopped()) return;
    if (outcome.kind == outcome_kind::skipped) {
      if (std::optional<file_identity> now = identity_of(path)) staying.push_back(*now);
    }
    if (!tell(outcome)) return;
    if (outcome.kind != outcome_kind::skipped && !still_holds(&*kept, group.digest)) {
      ++summary_.groups_stopped;
      const std::string where = outcome.kind == outcome_kind::trashed
                                    ? path + " is in the trash and can be restored"
                                    : path + " is deleted";
      if (!tell({kept->path, outcome_kind::stale,
                 "vanished when " + path + " was removed (one file under two names?); " + where}) ||
          !step_done())
        return;
      skip_rest(group, i + 1, "its group stopped: the kept copy vanished");
      return;
    }
    if (!step_done()) return;
  }
}

file_outcome remover::remove_if_allowed(const std::string& path, const digest_bytes& digest,
                                        const std::vector<file_identity>& staying,
                                        const kept_copy* kept) {
  file_outcome outcome{path, outcome_kind::skipped, {}};
  platform::file_state state;
  if (std::optional<std::string> folder = protected_folder_of(path)) {
    outcome.reason = "under the protected folder " + *folder;
  } else if (copy_check check = check_copy(path, digest, &state);
             check != copy_check::holds_content) {
    outcome.reason = check_text(check);
  } else if (file_identity id{state.device, state.inode};
             kept != nullptr && id == file_identity{kept->state.device, kept->state.inode}) {
    outcome.reason = "the same file on disk as the kept " + kept->path;
  } else if (std::find(staying.begin(), staying.end(), id) != staying.end()) {
    outcome.reason = "the same file on disk as a copy that stays";
  } else {
    remove_checked(path, state, &outcome);
  }
  return outcome;
}

void remover::remove_checked(const std::string& path, const platform::file_state& state,
                             file_outcome* outcome) {
  if (options_.may_remove && !options_.may_remove(path)) {
    summary_.stopped = true;
    return;
  }
  bool no_trash = false;
  remove_path(path, options_.method, outcome, &no_trash);
  if (no_trash) ++summary_.no_trash;
  if (outcome->kind != outcome_kind::skipped) {
    outcome->size = static_cast<uint64_t>(state.size);
    file_delete(path.c_str());
  }
}

void remover::empty(const removal_group& group, const std::vector<bool>& handled,
                    std::vector<file_identity>* staying) {
  for (size_t i = 0; i < group.go.size(); ++i) {
    if (handled[i]) continue;
    const file_outcome outcome = remove_if_allowed(group.go[i], group.digest, *staying, nullptr);
    if (stopped() || !tell(outcome) || !step_done()) return;
  }
}

}  // namespace

removal_summary remove_copies(const std::vector<removal_group>& groups,
                              const removal_options& options) {
  uint64_t total = 0;
  for (const removal_group& g : groups) total += g.go.size();
  remover r(options, total);
  for (const removal_group& g : groups) {
    if (r.stopped()) break;
    r.run(g);
  }
  return r.summary();
}

std::vector<removal_group> removal_groups_of(const cleanup_plan& plan) {
  std::vector<removal_group> out;
  for (const planned_group& g : plan.groups) {
    if (g.left_alone) continue;
    removal_group r{g.digest, {}, {}, true, false};
    for (const planned_copy& c : plan.copies_of(g))
      (c.fate == copy_fate::go ? r.go : r.stay).emplace_back(plan.path(c));
    if (!r.go.empty()) out.push_back(std::move(r));
  }
  return out;
}

file_outcome remove_file(const std::string& path, removal_method method) {
  file_outcome outcome{path, outcome_kind::skipped, {}};
  platform::file_state state;
  platform::unique_fd fd = platform::open_regular_fd(path.c_str(), &state);
  if (!fd) {
    struct stat st;
    outcome.reason = stat(path.c_str(), &st) != 0 ? "gone" : "not a regular file";
    return outcome;
  }
  fd = platform::unique_fd();
  bool no_trash = false;
  remove_path(path, method, &outcome, &no_trash);
  if (outcome.kind != outcome_kind::skipped) {
    outcome.size = static_cast<uint64_t>(state.size);
    file_delete(path.c_str());
  }
  return outcome;
}

}  // namespace cleanup
