// Planning a group: the rules are applied in order, each keeping only the copies it likes
// best among those still tied; the copies it drops are ranked behind the rest, so the order
// of a group is the order in which copies would be kept, should the kept one be lost.
#include "cleanup/plan.h"

#include <stdint.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "cleanup/folders.h"
#include "cleanup/tags.h"
#include "database/mp3_db.h"

namespace cleanup {

namespace {

constexpr int64_t kWorst = INT64_MAX;

int64_t modification_time(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return kWorst;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A copy that a rule put behind others: in which round, with which key.
struct dropped {
  size_t round;
  int64_t key;
  size_t pos;  // its place in the group's database order
  std::string reason;
};

class planner {
 public:
  explicit planner(const std::vector<keep_rule>& rules) : rules_(rules) {
    for (const keep_rule& rule : rules) {
      real_folders_.push_back(is_folder_rule(rule.kind) ? real_path(rule.folder) : std::string());
      if (rule.kind == keep_rule_kind::keep_in) has_keep_in_ = true;
      if (!is_folder_rule(rule.kind)) has_ordering_rule_ = true;
    }
  }

  std::vector<std::string> protected_folders() const {
    std::vector<std::string> out;
    for (size_t r = 0; r < rules_.size(); ++r)
      if (rules_[r].kind == keep_rule_kind::protect && !real_folders_[r].empty())
        out.push_back(real_folders_[r]);
    return out;
  }

  planned_group plan(const duplicate_groups& groups, const digest_group& group);

 private:
  bool under(const planned_copy& copy, size_t rule) {
    return !real_folders_[rule].empty() && folders_.file_under(copy.path, real_folders_[rule]);
  }
  // The key of a copy under an ordering rule, lower is better.
  int64_t key_of(size_t rule, size_t pos, const planned_copy& copy);
  std::string dropped_reason(size_t rule, int64_t key, int64_t best) const;
  std::string kept_reason(size_t rule, int64_t best) const;
  // The protect rule whose folder holds the copy, if any.
  std::optional<size_t> protecting_rule(const planned_copy& copy) {
    for (size_t r = 0; r < rules_.size(); ++r)
      if (rules_[r].kind == keep_rule_kind::protect && under(copy, r)) return r;
    return std::nullopt;
  }

  const std::vector<keep_rule>& rules_;
  std::vector<std::string> real_folders_;
  bool has_keep_in_ = false, has_ordering_rule_ = false;
  folder_resolver folders_;
};

int64_t planner::key_of(size_t rule, size_t pos, const planned_copy& copy) {
  switch (rules_[rule].kind) {
    case keep_rule_kind::protect:
    case keep_rule_kind::keep_in:
      return under(copy, rule) ? 0 : 1;
    case keep_rule_kind::best_tags:
      return -tag_score(read_tags(copy.path.c_str()));
    case keep_rule_kind::first:
      return static_cast<int64_t>(pos);
    case keep_rule_kind::shortest_path:
      return static_cast<int64_t>(copy.path.size());
    case keep_rule_kind::longest_path:
      return -static_cast<int64_t>(copy.path.size());
    case keep_rule_kind::newest: {
      const int64_t t = modification_time(copy.path);
      return t == kWorst ? kWorst : -t;
    }
    case keep_rule_kind::oldest:
      return modification_time(copy.path);
  }
  return 0;
}

std::string planner::dropped_reason(size_t rule, int64_t key, int64_t best) const {
  const std::string& folder = real_folders_[rule];
  switch (rules_[rule].kind) {
    case keep_rule_kind::protect:
      return "not under the protected folder " + folder;
    case keep_rule_kind::keep_in:
      return "not under the keep-in folder " + folder;
    case keep_rule_kind::best_tags:
      return "tag score " + std::to_string(-key) + ", the kept copy's " + std::to_string(-best);
    case keep_rule_kind::first:
      return "later in the database";
    case keep_rule_kind::shortest_path:
      return "longer path";
    case keep_rule_kind::longest_path:
      return "shorter path";
    case keep_rule_kind::newest:
      return key == kWorst ? "modification time unknown" : "older";
    case keep_rule_kind::oldest:
      return key == kWorst ? "modification time unknown" : "newer";
  }
  return {};
}

std::string planner::kept_reason(size_t rule, int64_t best) const {
  const std::string& folder = real_folders_[rule];
  switch (rules_[rule].kind) {
    case keep_rule_kind::protect:
      return "under the protected folder " + folder;
    case keep_rule_kind::keep_in:
      return "under the keep-in folder " + folder;
    case keep_rule_kind::best_tags:
      return "best tags (score " + std::to_string(-best) + ")";
    case keep_rule_kind::first:
      return "first in the database";
    case keep_rule_kind::shortest_path:
      return "shortest path";
    case keep_rule_kind::longest_path:
      return "longest path";
    case keep_rule_kind::newest:
      return "newest";
    case keep_rule_kind::oldest:
      return "oldest";
  }
  return {};
}

planned_group planner::plan(const duplicate_groups& groups, const digest_group& group) {
  planned_group out{group.hashid, group.digest, {}, false, {}};
  std::vector<planned_copy> copies;
  for (uint32_t index : groups.files_of(group)) {
    const fileentry* f = db_getfileentry(index);
    copies.push_back({index, f->filename, f->filesize, copy_fate::go, {}});
  }

  std::vector<std::optional<size_t>> protection(copies.size());
  bool any_protected = false, any_in_keep_folder = false;
  for (size_t i = 0; i < copies.size(); ++i) {
    protection[i] = protecting_rule(copies[i]);
    any_protected = any_protected || protection[i].has_value();
    for (size_t r = 0; r < rules_.size() && !any_in_keep_folder; ++r)
      any_in_keep_folder = rules_[r].kind == keep_rule_kind::keep_in && under(copies[i], r);
  }
  if (has_keep_in_ && !any_in_keep_folder && !any_protected && !has_ordering_rule_) {
    out.left_alone = true;
    out.reason = "no copy under a keep-in folder, and no rule to choose another";
    for (planned_copy& c : copies) {
      c.fate = copy_fate::stay;
      c.reason = "its group is left alone";
    }
    out.copies = std::move(copies);
    return out;
  }

  // Rounds of the rules over the copies still tied, in database order.
  std::vector<size_t> alive(copies.size());
  for (size_t i = 0; i < alive.size(); ++i) alive[i] = i;
  std::vector<dropped> behind;
  std::string keeper_reason;
  std::vector<int64_t> keys;
  for (size_t r = 0; r < rules_.size() && alive.size() > 1; ++r) {
    keys.clear();
    for (size_t pos : alive) keys.push_back(key_of(r, pos, copies[pos]));
    const int64_t best = *std::min_element(keys.begin(), keys.end());
    std::vector<size_t> kept;
    for (size_t i = 0; i < alive.size(); ++i) {
      if (keys[i] == best) {
        kept.push_back(alive[i]);
      } else {
        behind.push_back({r, keys[i], alive[i], dropped_reason(r, keys[i], best)});
      }
    }
    if (kept.size() == alive.size()) continue;  // this rule could not tell them apart
    if (!keeper_reason.empty()) keeper_reason += "; ";
    keeper_reason += kept_reason(r, best);
    alive = std::move(kept);
  }
  for (size_t i = 1; i < alive.size(); ++i)
    behind.push_back({rules_.size(), static_cast<int64_t>(alive[i]), alive[i],
                      "later in the database"});
  if (keeper_reason.empty()) keeper_reason = "first in the database";

  // The latest round is the closest to being kept; within a round, the better key first.
  std::stable_sort(behind.begin(), behind.end(), [](const dropped& a, const dropped& b) {
    if (a.round != b.round) return a.round > b.round;
    if (a.key != b.key) return a.key < b.key;
    return a.pos < b.pos;
  });
  planned_copy& keeper = copies[alive.front()];
  keeper.fate = copy_fate::keep;
  keeper.reason = std::move(keeper_reason);
  out.copies.push_back(std::move(keeper));
  for (dropped& d : behind) {
    planned_copy& c = copies[d.pos];
    if (protection[d.pos]) {
      c.fate = copy_fate::stay;
      c.reason = "protected: under " + real_folders_[*protection[d.pos]];
    } else {
      c.reason = std::move(d.reason);
    }
    out.copies.push_back(std::move(c));
  }
  return out;
}

}  // namespace

cleanup_plan make_plan(const duplicate_groups& groups, const std::vector<keep_rule>& rules) {
  planner p(rules);
  cleanup_plan plan;
  plan.protected_folders = p.protected_folders();
  plan.groups.reserve(groups.groups.size());
  for (const digest_group& group : groups.groups) {
    plan.groups.push_back(p.plan(groups, group));
    const planned_group& g = plan.groups.back();
    if (g.left_alone) ++plan.groups_left_alone;
    for (const planned_copy& c : g.copies) {
      if (c.fate != copy_fate::go) continue;
      ++plan.copies_to_go;
      plan.bytes_to_go += c.size;
    }
  }
  return plan;
}

}  // namespace cleanup
