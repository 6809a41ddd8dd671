// prune: removes every copy but one in each group, as the keep rules plan it, through the
// cleanup library's safe removal (to the trash unless --permanent). Its record on standard
// output: for each group "keep: PATH", then "trashed: PATH" or "deleted: PATH" per copy
// removed; a dry run writes the plan instead, each file with its reason on the next line.
#include <stdio.h>

#include <string>

#include "cleanup/groups.h"
#include "cleanup/plan.h"
#include "cleanup/removal.h"
#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/recorded_deletion.h"

namespace {

std::string digest_text(const cleanup::digest_bytes& digest) {
  return to_hex(digest.data(), digest.size());
}

// The plan, group after group, a blank line between them; false when the output is lost.
bool print_plan(const cleanup::cleanup_plan& plan) {
  bool first = true;
  for (const cleanup::planned_group& group : plan.groups) {
    if (group.left_alone) continue;
    if (!first && !checked_output::write("\n")) return false;
    first = false;
    for (const cleanup::planned_copy& copy : plan.copies_of(group)) {
      const std::string path(plan.path(copy));
      // A copy to go is one the real run deletes.
      const char* word =
          copy.fate == cleanup::copy_fate::go ? "delete" : cleanup::fate_name(copy.fate);
      if (!checked_output::print("%s: %s\n    %s\n", word, checked_output::shown(path).c_str(),
                                 printable(cleanup::reason_text(plan, group, copy)).c_str()))
        return false;
    }
  }
  return checked_output::flush();
}

// What a run did and whether it must stop.
struct prune_run {
  uint64_t removed = 0, bytes = 0, megabytes = 0;
  bool trouble = false;      // a copy could not go, or a kept copy was lost: exit status 1
  bool output_lost = false;  // stop: nothing more is removed
  bool first_group = true;
};

bool on_group(prune_run& run, const cleanup::removal_group& group, const std::string* kept,
              const console& out) {
  if (kept == nullptr) {
    out.warning("group %s left alone: no copy holds its content any more",
                digest_text(group.digest).c_str());
    run.trouble = true;
    return true;
  }
  // The group's first line goes out before any of its copies is removed.
  if ((!run.first_group && !checked_output::write("\n")) ||
      !checked_output::print("keep: %s\n", checked_output::shown(*kept).c_str()) ||
      !checked_output::flush()) {
    run.output_lost = true;
    return false;
  }
  run.first_group = false;
  return true;
}

bool on_file(prune_run& run, const cleanup::file_outcome& outcome, const console& out) {
  const std::string name = out.shown(outcome.path);
  switch (outcome.kind) {
    case cleanup::outcome_kind::trashed:
    case cleanup::outcome_kind::deleted:
      ++run.removed;
      run.bytes += outcome.size;
      run.megabytes += cleanup::whole_megabytes(static_cast<uint32_t>(outcome.size));
      if (!record_removal(outcome, out)) {
        run.output_lost = true;
        return false;
      }
      return true;
    case cleanup::outcome_kind::skipped:
      // One file under two names is no trouble: its content stays either way.
      if (outcome.reason.rfind("the same file on disk", 0) == 0) {
        out.note("%s: skipped: %s", name.c_str(), outcome.reason.c_str());
      } else {
        out.warning("%s: skipped: %s", name.c_str(), outcome.reason.c_str());
        run.trouble = true;
      }
      return true;
    case cleanup::outcome_kind::kept_instead:
      out.note("%s: %s", name.c_str(), outcome.reason.c_str());
      return true;
    case cleanup::outcome_kind::stale:
      out.warning("%s: not kept: %s", name.c_str(), outcome.reason.c_str());
      run.trouble = true;
      return true;
  }
  return true;
}

}  // namespace

int run_prune(const prune_options& options, const console& out) {
  const std::vector<cleanup::keep_rule> rules =
      options.rules.empty() ? std::vector<cleanup::keep_rule>{{cleanup::keep_rule_kind::first, {}}}
                            : options.rules;
  const cleanup::cleanup_plan plan = cleanup::make_plan(cleanup::group_by_digest(), rules);
  for (const cleanup::planned_group& group : plan.groups) {
    if (group.left_alone)
      out.warning("group %s left alone: %s", digest_text(group.digest).c_str(),
                  cleanup::left_alone_text());
  }
  const bool to_trash = options.method == cleanup::removal_method::trash;
  if (options.dry_run) {
    if (!print_plan(plan)) return kExitFailure;  // the write error is told at the end
    out.note("prune: would %s %s in %zu groups, %llu groups left alone",
             to_trash ? "move to the trash" : "delete",
             removed_amount(plan.copies_to_go, plan.bytes_to_go, plan.megabytes_to_go).c_str(),
             plan.groups.size() - plan.groups_left_alone,
             static_cast<unsigned long long>(plan.groups_left_alone));
    return kExitSuccess;
  }

  prune_run run;
  cleanup::removal_options removal;
  removal.method = options.method;
  removal.protected_folders = plan.protected_folders();
  removal.on_group = [&](const cleanup::removal_group& group, const std::string* kept) {
    return on_group(run, group, kept, out);
  };
  removal.may_remove = [&](const std::string&) {
    if (interrupted()) return false;
    run.output_lost = !checked_output::still_heard();
    return !run.output_lost;
  };
  removal.on_file = [&](const cleanup::file_outcome& outcome) {
    return on_file(run, outcome, out);
  };
  const cleanup::removal_summary summary =
      cleanup::remove_copies(cleanup::removal_groups_of(plan), removal);

  const std::string amount = removed_amount(run.removed, run.bytes, run.megabytes);
  out.note("prune: %s %s in %zu groups, %llu groups left alone",
           to_trash ? "moved to the trash" : "deleted", amount.c_str(),
           plan.groups.size() - plan.groups_left_alone,
           static_cast<unsigned long long>(plan.groups_left_alone + summary.groups_stopped));
  if (summary.no_trash > 0)
    out.warning(
        "%llu files stayed: their file systems have no usable trash; --permanent "
        "deletes them for good",
        static_cast<unsigned long long>(summary.no_trash));
  if (run.output_lost) {
    report_lost_output("prune", static_cast<int>(run.removed), out);
    return kExitFailure;
  }
  if (interrupted()) {
    out.error("prune interrupted; the files removed before the stop are recorded");
    return kExitFailure;
  }
  return run.trouble ? kExitFailure : kExitSuccess;
}
