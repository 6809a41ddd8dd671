// The plan of a cleanup: for each group of duplicates, the copy to keep, the copies to go and
// the reason for each, as the keep rules decide. Making a plan changes nothing.
#ifndef VARNELO_CLEANUP_PLAN_H_
#define VARNELO_CLEANUP_PLAN_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "cleanup/groups.h"
#include "cleanup/keep_rules.h"

namespace cleanup {

enum class copy_fate {
  keep,  // the copy kept
  go,    // a copy to remove
  stay,  // neither: protected, or its group is left alone
};

struct planned_copy {
  uint32_t index;  // its file index when the plan was made
  std::string path;
  uint32_t size;
  copy_fate fate;
  // Why: for the kept copy the rules that chose it ("under the keep-in folder /m; shortest
  // path"), for a copy to go the rule that put it behind the kept one ("longer path"), for a
  // copy that stays why it stays.
  std::string reason;
};

struct planned_group {
  int32_t hashid;
  digest_bytes digest;
  // The kept copy first, then the others from the closest to being kept to the farthest;
  // in a group left alone, database order.
  std::vector<planned_copy> copies;
  bool left_alone = false;
  std::string reason;  // why a group is left alone
};

struct cleanup_plan {
  std::vector<planned_group> groups;  // in the order of the duplicate groups
  // The real paths of the protected folders, which removal checks again for every copy.
  std::vector<std::string> protected_folders;
  uint64_t copies_to_go = 0;
  uint64_t bytes_to_go = 0;
  uint64_t groups_left_alone = 0;
};

// Plans every group of groups (made from the open database, unchanged since) by rules, in
// order. Without rules the first copy of each group is kept. A group is left alone when the
// rules hold keep-in folders, none of its copies lies under one, none lies under a protected
// folder and no ordering rule follows to decide. Rule folders should have passed
// rule_folder_problem; one that cannot be resolved matches nothing. best-tags reads the tags
// of the copies it has to compare, newest and oldest their modification times; the other
// rules read nothing from disk but the real paths of folders.
cleanup_plan make_plan(const duplicate_groups& groups, const std::vector<keep_rule>& rules);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_PLAN_H_
