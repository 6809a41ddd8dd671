// prune: deletes every duplicate but one in each group. The plan is made from paths
// before anything is deleted, because each deletion moves the last entry of the file
// table into the freed slot and would make file indexes point elsewhere.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/duplicate_groups.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/recorded_deletion.h"
#include "database/mp3_db.h"

namespace {

using digest_bytes = std::array<unsigned char, 16>;

struct planned_file {
  std::string path;
  uint32_t size;
};

// One group: its digest and its files, the preferred copy to keep first.
struct group_plan {
  digest_bytes digest;
  std::vector<planned_file> files;
};

struct free_deleter {
  void operator()(void* p) const { free(p); }
};

// Orders the files of a group by the keep rule; the sorts are stable, so ties keep the
// ascending index order in which the group lists them.
void order_by_rule(std::vector<planned_file>& files, const prune_options& options) {
  if (options.rule == keep_rule::shortest_path) {
    std::stable_sort(files.begin(), files.end(), [](const planned_file& a, const planned_file& b) {
      return a.path.size() < b.path.size();
    });
  } else if (options.rule == keep_rule::in_folder) {
    std::stable_partition(files.begin(), files.end(), [&](const planned_file& f) {
      return is_under(f.path, options.keep_folder);
    });
  }
}

std::vector<group_plan> make_plan(const prune_options& options) {
  std::vector<group_plan> plan;
  for (const duplicate_group& group : list_duplicates().groups) {
    group_plan g;
    memcpy(g.digest.data(), db_gethashentry(static_cast<uint32_t>(group.hashid)), 16);
    for (int32_t index : group.files) {
      const fileentry* entry = db_getfileentry(static_cast<uint32_t>(index));
      g.files.push_back({entry->filename, entry->filesize});
    }
    order_by_rule(g.files, options);
    plan.push_back(std::move(g));
  }
  return plan;
}

// True when the file at path has, right now, the content digest the group was made for.
bool has_digest(const std::string& path, const digest_bytes& digest) {
  std::unique_ptr<unsigned char, free_deleter> now(md5_hashfile_fast(path.c_str()));
  return now && memcmp(now.get(), digest.data(), digest.size()) == 0;
}

std::optional<struct stat> identity_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct prune_totals {
  int deleted = 0;
  int64_t megabytes = 0;
  bool trouble = false;
  bool output_lost = false;  // stop: nothing more is deleted
};

// Chooses the copy to keep: the first in rule order that still holds the group's
// content. Without one the group is left alone, so a group never loses its last copy.
std::optional<size_t> choose_keeper(const group_plan& group, bool dry_run) {
  for (size_t i = 0; i < group.files.size(); ++i) {
    if (dry_run ? identity_of(group.files[i].path).has_value()
                : has_digest(group.files[i].path, group.digest)) {
      return i;
    }
  }
  return std::nullopt;
}

// Deletes one copy, or in a dry run writes that it would. Sets totals.output_lost when the
// command must stop.
void prune_copy(const planned_file& file, bool dry_run, const console& out,
                prune_totals& totals) {
  if (dry_run) {
    if (!checked_output::print("delete: %s\n", checked_output::shown(file.path).c_str())) {
      totals.output_lost = true;
      return;
    }
  } else {
    deletion_outcome outcome = delete_recorded(file.path, file.path, out);
    totals.output_lost = outcome == deletion_outcome::not_begun ||
                         outcome == deletion_outcome::unrecorded;
    if (outcome == deletion_outcome::refused) totals.trouble = true;
    if (!was_deleted(outcome)) return;
  }
  ++totals.deleted;
  totals.megabytes += whole_megabytes(file.size);
}

void prune_group(const group_plan& group, const prune_options& options, const console& out,
                 prune_totals& totals) {
  std::optional<size_t> keeper = choose_keeper(group, options.dry_run);
  if (!keeper) {
    out.warning("group %s left alone: no copy holds its content any more",
                to_hex(group.digest.data(), group.digest.size()).c_str());
    totals.trouble = true;
    return;
  }
  const std::string& kept = group.files[*keeper].path;
  std::optional<struct stat> kept_identity = identity_of(kept);
  if (!kept_identity) {
    // Without the kept file's identity a copy that is the same file could not be told apart.
    out.warning("%s: group left alone: %s", out.shown(kept).c_str(), reason_of(errno).c_str());
    totals.trouble = true;
    return;
  }
  // The group's first line goes out before any of its copies is deleted.
  if (!checked_output::print("keep: %s\n", checked_output::shown(kept).c_str()) ||
      (!options.dry_run && !checked_output::flush())) {
    totals.output_lost = true;
    return;
  }
  for (size_t i = 0; i < group.files.size() && !totals.output_lost; ++i) {
    if (i == *keeper) continue;
    if (interrupted()) return;
    const planned_file& file = group.files[i];
    std::optional<struct stat> identity = identity_of(file.path);
    if (!identity) {
      out.warning("%s: skipped: %s", out.shown(file.path).c_str(), reason_of(errno).c_str());
      continue;
    }
    // Two entries can name one file (a folder link, a hard link): deleting it through the
    // other name would delete the copy that is kept.
    if (same_file(*identity, *kept_identity)) {
      out.note("%s: skipped: the same file on disk as the kept %s", out.shown(file.path).c_str(),
               out.shown(kept).c_str());
      continue;
    }
    if (!options.dry_run && !has_digest(file.path, group.digest)) {
      out.warning("%s: skipped: its content changed since it was added",
                  out.shown(file.path).c_str());
      totals.trouble = true;
      continue;
    }
    prune_copy(file, options.dry_run, out, totals);
  }
}

}  // namespace

int run_prune(const prune_options& options, const console& out) {
  std::vector<group_plan> plan = make_plan(options);
  prune_totals totals;
  bool first = true;
  for (const group_plan& group : plan) {
    if (interrupted() || totals.output_lost) break;
    if (!first && !checked_output::write("\n")) {
      totals.output_lost = true;
      break;
    }
    first = false;
    prune_group(group, options, out, totals);
  }
  out.note("prune: %s %d files in %zu groups, %lld MB",
           options.dry_run ? "would delete" : "deleted", totals.deleted, plan.size(),
           static_cast<long long>(totals.megabytes));
  if (totals.output_lost) {
    // A dry run deleted nothing: the write error, given at the end of the run, says it all.
    if (!options.dry_run) report_lost_output("prune", totals.deleted, out);
    return kExitFailure;
  }
  if (interrupted()) {
    out.error("prune interrupted; the files deleted before the stop are recorded");
    return kExitFailure;
  }
  return totals.trouble ? kExitFailure : kExitSuccess;
}
