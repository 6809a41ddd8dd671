// The plan of a cleanup: for each group of duplicates, the copy to keep, the copies to go and
// the reason for each, as the keep rules decide. Making a plan changes nothing. A plan of a
// million files is made in well under a second, so it holds its copies in one flat array by
// file index (like the duplicate groups, valid until the file table next changes) and their
// reasons in a few bytes that reason_text puts into words.
#ifndef VARNELO_CLEANUP_PLAN_H_
#define VARNELO_CLEANUP_PLAN_H_

#include <stdint.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/groups.h"
#include "cleanup/keep_rules.h"

namespace cleanup {

enum class copy_fate : uint8_t {
  keep,  // the copy kept
  go,    // a copy to remove
  stay,  // neither: protected, or its group is left alone
};

// Why a copy has its fate; see reason_text.
struct copy_reason {
  static constexpr uint16_t kNoRule = 0xffff;
  uint16_t rule = kNoRule;    // the rule that put a copy behind the kept one, or protects it
  bool time_unknown = false;  // newest and oldest could not read its modification time
  int8_t score = -1;          // its tag score, where best-tags read it
  uint32_t kept_by = 0;       // the kept copy: one bit per rule (the first 32) that chose it
};

struct planned_copy {
  uint32_t index;  // its file index when the plan was made
  uint32_t size;
  copy_fate fate;
  copy_reason why;
};

struct planned_group {
  int32_t hashid;
  digest_bytes digest;
  // Its copies in cleanup_plan::copies: the kept copy first, then the others from the
  // closest to being kept to the farthest; in a group left alone, database order.
  uint32_t first, count;
  // The rules hold keep-in folders, no copy lies under one or under a protected folder,
  // and no ordering rule follows to decide: every copy stays.
  bool left_alone = false;
};

struct cleanup_plan {
  std::vector<keep_rule> rules;
  std::vector<std::string> rule_folders;  // per rule: the real path of its folder, or ""
  std::vector<planned_group> groups;      // in the order of the duplicate groups
  std::vector<planned_copy> copies;
  uint64_t copies_to_go = 0;
  uint64_t bytes_to_go = 0;
  uint64_t megabytes_to_go = 0;  // each copy's whole megabytes, summed as removal counts them
  uint64_t groups_left_alone = 0;

  std::span<const planned_copy> copies_of(const planned_group& g) const {
    return {copies.data() + g.first, g.count};
  }
  // A copy's path, from the file table as long as it is unchanged since the plan was made.
  std::string_view path(const planned_copy& c) const;
  // The real paths of the protected folders, which removal checks again for every copy.
  std::vector<std::string> protected_folders() const;
};

// Plans every group of groups (made from the open database, unchanged since) by rules, in
// order. Without rules the first copy of each group is kept. Rule folders should have passed
// rule_folder_problem; one that cannot be resolved matches nothing. best-tags reads the tags
// of the copies it has to compare, newest and oldest their modification times; the others
// read nothing from disk but the real paths of folders.
cleanup_plan make_plan(const duplicate_groups& groups, const std::vector<keep_rule>& rules);

// Why a copy of group has its fate, in words: for the kept copy the rules that chose it
// ("under the keep-in folder /m; shortest path"), for a copy to go the rule that put it
// behind the kept one ("longer path"), for a copy that stays why it stays.
std::string reason_text(const cleanup_plan& plan, const planned_group& group,
                        const planned_copy& copy);

// Why a group is left alone, in words.
const char* left_alone_text();

// "keep", "go" or "stay".
const char* fate_name(copy_fate fate);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_PLAN_H_
