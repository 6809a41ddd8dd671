// Planning a group: the rules are applied in order, each keeping only the copies it likes
// best among those still tied; the copies it drops are ranked behind the rest, so the order
// of a group is the order in which copies would be kept, should the kept one be lost.
#include "cleanup/plan.h"

#include <stdint.h>
#include <sys/stat.h>

#include <algorithm>

#include "cleanup/folders.h"
#include "cleanup/tags.h"
#include "database/mp3_db.h"

namespace cleanup {

namespace {

constexpr int64_t kWorst = INT64_MAX;
constexpr uint16_t kNoRule = copy_reason::kNoRule;

// The modification time in nanoseconds (links followed), or kWorst when it cannot be read.
int64_t modification_time(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return kWorst;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A copy that a rule put behind others: in which round (kNoRule: database order), with
// which key, and its place in the group's database order.
struct dropped {
  uint16_t round;
  int64_t key;
  uint32_t pos;
};

// What the rules need to know of each file, worked out in one pass in table order (cheap:
// the entries and their paths lie in that order in memory), rather than in the scattered
// order of the groups: the length of its path, which rule folders hold it (bit r for rule r,
// the first 63 rules) and whether its folder is gone (kFolderGone). The files of a folder sit
// together in the table (a scan adds them so), so a folder is looked up once per run.
constexpr uint64_t kFolderGone = uint64_t{1} << 63;
constexpr size_t kFolderBits = 63;

struct file_facts {
  uint64_t folder_bits = 0;
  uint32_t path_size = 0;
};

class planner {
 public:
  explicit planner(cleanup_plan* plan) : plan_(*plan) {
    for (const keep_rule& rule : plan_.rules) {
      plan_.rule_folders.push_back(is_folder_rule(rule.kind) ? real_path(rule.folder) : "");
      if (rule.kind == keep_rule_kind::keep_in) has_keep_in_ = true;
      if (!is_folder_rule(rule.kind)) has_ordering_rule_ = true;
      if (is_folder_rule(rule.kind) || rule.kind == keep_rule_kind::newest ||
          rule.kind == keep_rule_kind::oldest)
        needs_folders_ = true;
      if (rule.kind == keep_rule_kind::shortest_path || rule.kind == keep_rule_kind::longest_path)
        needs_sizes_ = true;
    }
  }

  void survey(const duplicate_groups& groups);
  void plan_group(const duplicate_groups& groups, const digest_group& group);

 private:
  std::string_view path(uint32_t pos) const { return plan_.path(group_[pos]); }
  uint64_t folder_bits(uint32_t pos) const {
    return needs_folders_ ? facts_[group_[pos].index].folder_bits : 0;
  }
  uint32_t path_size(uint32_t pos) const { return facts_[group_[pos].index].path_size; }
  bool under(uint32_t pos, size_t rule) {
    if (rule < kFolderBits) return (folder_bits(pos) >> rule) & 1;
    const std::string& folder = plan_.rule_folders[rule];
    return !folder.empty() && folders_.file_under(path(pos), folder);
  }
  uint16_t protecting_rule(uint32_t pos) {
    for (size_t r = 0; r < plan_.rules.size(); ++r)
      if (plan_.rules[r].kind == keep_rule_kind::protect && under(pos, r))
        return static_cast<uint16_t>(r);
    return kNoRule;
  }
  // The key of a copy under a rule, lower is better.
  int64_t key_of(size_t rule, uint32_t pos);
  void finish(const digest_group& group, bool left_alone);

  cleanup_plan& plan_;
  bool has_keep_in_ = false, has_ordering_rule_ = false;
  bool needs_folders_ = false, needs_sizes_ = false;
  folder_resolver folders_;
  std::vector<file_facts> facts_;  // per file index, when a rule needs them
  // Scratch of one group, kept between groups so that planning allocates little.
  std::vector<planned_copy> group_;  // in database order
  std::vector<uint32_t> alive_, tied_;
  std::vector<int64_t> keys_;
  std::vector<dropped> behind_;
};

void planner::survey(const duplicate_groups& groups) {
  if (!needs_folders_ && !needs_sizes_) return;
  const uint32_t filenum = file_getfilenum();
  std::vector<bool> grouped(filenum, false);
  for (uint32_t index : groups.files)
    if (index < filenum) grouped[index] = true;
  facts_.assign(filenum, {});
  if (needs_folders_) folders_.reserve(groups.files.size() / 4);
  std::string_view last_folder;
  uint64_t last_bits = 0;
  for (uint32_t k = 0; k < filenum; ++k) {
    if (!grouped[k]) continue;
    const std::string_view path = db_getfileentry(k)->filename;
    facts_[k].path_size = static_cast<uint32_t>(path.size());
    if (!needs_folders_) continue;
    const size_t slash = path.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view()
                                    : slash == 0                    ? path.substr(0, 1)
                                                                    : path.substr(0, slash);
    if (folder.empty() || folder != last_folder) {
      // Whether a rule folder holds a file depends only on the file's folder.
      const std::string& real = folders_.real_folder(folder);
      last_bits = real.empty() ? kFolderGone : 0;
      for (size_t r = 0; r < plan_.rules.size() && r < kFolderBits; ++r) {
        const std::string& rule_folder = plan_.rule_folders[r];
        if (!rule_folder.empty() && folder_resolver::lies_in(path, real, rule_folder))
          last_bits |= uint64_t{1} << r;
      }
      last_folder = folder;
    }
    facts_[k].folder_bits = last_bits;
  }
}

int64_t planner::key_of(size_t rule, uint32_t pos) {
  planned_copy& copy = group_[pos];
  switch (plan_.rules[rule].kind) {
    case keep_rule_kind::protect:
    case keep_rule_kind::keep_in:
      return under(pos, rule) ? 0 : 1;
    case keep_rule_kind::best_tags:
      copy.why.score = static_cast<int8_t>(tag_score(read_tags(std::string(path(pos)).c_str())));
      return -copy.why.score;
    case keep_rule_kind::first:
      return pos;
    case keep_rule_kind::shortest_path:
      return path_size(pos);
    case keep_rule_kind::longest_path:
      return -static_cast<int64_t>(path_size(pos));
    case keep_rule_kind::newest:
    case keep_rule_kind::oldest: {
      // A file whose folder is gone is gone as well: no need to ask.
      const int64_t t =
          folder_bits(pos) & kFolderGone ? kWorst : modification_time(path(pos).data());
      copy.why.time_unknown = t == kWorst;
      if (t == kWorst) return kWorst;
      return plan_.rules[rule].kind == keep_rule_kind::newest ? -t : t;
    }
  }
  return 0;
}

void planner::plan_group(const duplicate_groups& groups, const digest_group& group) {
  group_.clear();
  for (uint32_t index : groups.files_of(group))
    group_.push_back({index, db_getfileentry(index)->filesize, copy_fate::go, {}});

  bool any_protected = false, any_in_keep_folder = false;
  for (uint32_t pos = 0; pos < group_.size(); ++pos) {
    group_[pos].why.rule = protecting_rule(pos);
    any_protected = any_protected || group_[pos].why.rule != kNoRule;
    for (size_t r = 0; r < plan_.rules.size() && !any_in_keep_folder; ++r)
      any_in_keep_folder = plan_.rules[r].kind == keep_rule_kind::keep_in && under(pos, r);
  }
  if (has_keep_in_ && !any_in_keep_folder && !any_protected && !has_ordering_rule_) {
    finish(group, true);
    return;
  }

  // Rounds of the rules over the copies still tied, in database order.
  alive_.clear();
  for (uint32_t pos = 0; pos < group_.size(); ++pos) alive_.push_back(pos);
  behind_.clear();
  uint32_t kept_by = 0;
  for (size_t r = 0; r < plan_.rules.size() && alive_.size() > 1; ++r) {
    keys_.clear();
    for (uint32_t pos : alive_) keys_.push_back(key_of(r, pos));
    const int64_t best = *std::min_element(keys_.begin(), keys_.end());
    tied_.clear();
    for (size_t i = 0; i < alive_.size(); ++i) {
      if (keys_[i] == best) {
        tied_.push_back(alive_[i]);
      } else {
        behind_.push_back({static_cast<uint16_t>(r), keys_[i], alive_[i]});
      }
    }
    if (tied_.size() == alive_.size()) continue;  // this rule could not tell them apart
    if (r < 32) kept_by |= 1u << r;
    alive_.swap(tied_);
  }
  for (size_t i = 1; i < alive_.size(); ++i)
    behind_.push_back({kNoRule, static_cast<int64_t>(alive_[i]), alive_[i]});

  // The latest round is the closest to being kept; within a round, the better key first.
  std::sort(behind_.begin(), behind_.end(), [](const dropped& a, const dropped& b) {
    const int ra = a.round == kNoRule ? INT32_MAX : a.round;
    const int rb = b.round == kNoRule ? INT32_MAX : b.round;
    if (ra != rb) return ra > rb;
    if (a.key != b.key) return a.key < b.key;
    return a.pos < b.pos;
  });
  planned_copy& keeper = group_[alive_.front()];
  keeper.fate = copy_fate::keep;
  keeper.why.kept_by = kept_by;
  keeper.why.rule = kNoRule;
  for (const dropped& d : behind_) {
    planned_copy& c = group_[d.pos];
    if (c.why.rule != kNoRule) {
      c.fate = copy_fate::stay;  // protected: why.rule is the protecting rule
    } else {
      c.why.rule = d.round;
    }
  }
  finish(group, false);
}

void planner::finish(const digest_group& group, bool left_alone) {
  planned_group out{group.hashid, group.digest, static_cast<uint32_t>(plan_.copies.size()),
                    static_cast<uint32_t>(group_.size()), left_alone};
  if (left_alone) {
    ++plan_.groups_left_alone;
    for (planned_copy& c : group_) {
      c.fate = copy_fate::stay;
      plan_.copies.push_back(c);
    }
  } else {
    plan_.copies.push_back(group_[alive_.front()]);
    for (const dropped& d : behind_) {
      const planned_copy& c = group_[d.pos];
      plan_.copies.push_back(c);
      if (c.fate != copy_fate::go) continue;
      ++plan_.copies_to_go;
      plan_.bytes_to_go += c.size;
      plan_.megabytes_to_go += whole_megabytes(c.size);
    }
  }
  plan_.groups.push_back(out);
}

std::string kept_text(const cleanup_plan& plan, size_t rule, const planned_copy& copy) {
  const std::string& folder = plan.rule_folders[rule];
  switch (plan.rules[rule].kind) {
    case keep_rule_kind::protect:
      return "under the protected folder " + folder;
    case keep_rule_kind::keep_in:
      return "under the keep-in folder " + folder;
    case keep_rule_kind::best_tags:
      return "best tags (score " + std::to_string(copy.why.score) + ")";
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

std::string dropped_text(const cleanup_plan& plan, size_t rule, const planned_copy& copy,
                         const planned_copy& keeper) {
  const std::string& folder = plan.rule_folders[rule];
  switch (plan.rules[rule].kind) {
    case keep_rule_kind::protect:
      return "not under the protected folder " + folder;
    case keep_rule_kind::keep_in:
      return "not under the keep-in folder " + folder;
    case keep_rule_kind::best_tags:
      return "tag score " + std::to_string(copy.why.score) + ", the kept copy's " +
             std::to_string(keeper.why.score);
    case keep_rule_kind::first:
      return "later in the database";
    case keep_rule_kind::shortest_path:
      return "longer path";
    case keep_rule_kind::longest_path:
      return "shorter path";
    case keep_rule_kind::newest:
      return copy.why.time_unknown ? "modification time unknown" : "older";
    case keep_rule_kind::oldest:
      return copy.why.time_unknown ? "modification time unknown" : "newer";
  }
  return {};
}

}  // namespace

std::string_view cleanup_plan::path(const planned_copy& c) const {
  const fileentry* f = db_getfileentry(c.index);
  return f != nullptr ? std::string_view(f->filename) : std::string_view();
}

std::vector<std::string> cleanup_plan::protected_folders() const {
  std::vector<std::string> out;
  for (size_t r = 0; r < rules.size(); ++r)
    if (rules[r].kind == keep_rule_kind::protect && !rule_folders[r].empty())
      out.push_back(rule_folders[r]);
  return out;
}

cleanup_plan make_plan(const duplicate_groups& groups, const std::vector<keep_rule>& rules) {
  cleanup_plan plan;
  plan.rules = rules;
  planner p(&plan);
  p.survey(groups);
  plan.groups.reserve(groups.groups.size());
  plan.copies.reserve(groups.files.size());
  for (const digest_group& group : groups.groups) p.plan_group(groups, group);
  return plan;
}

std::string reason_text(const cleanup_plan& plan, const planned_group& group,
                        const planned_copy& copy) {
  switch (copy.fate) {
    case copy_fate::keep: {
      std::string text;
      for (size_t r = 0; r < plan.rules.size() && r < 32; ++r) {
        if ((copy.why.kept_by & (1u << r)) == 0) continue;
        if (!text.empty()) text += "; ";
        text += kept_text(plan, r, copy);
      }
      return text.empty() ? "first in the database" : text;
    }
    case copy_fate::go:
      if (copy.why.rule >= plan.rules.size()) return "later in the database";
      return dropped_text(plan, copy.why.rule, copy, plan.copies[group.first]);
    case copy_fate::stay:
      if (group.left_alone || copy.why.rule >= plan.rules.size()) return "its group is left alone";
      return "protected: under " + plan.rule_folders[copy.why.rule];
  }
  return {};
}

const char* fate_name(copy_fate fate) {
  switch (fate) {
    case copy_fate::keep:
      return "keep";
    case copy_fate::go:
      return "go";
    case copy_fate::stay:
      return "stay";
  }
  return "?";
}

const char* left_alone_text() {
  return "no copy under a keep-in folder, and no rule to choose another";
}

}  // namespace cleanup
