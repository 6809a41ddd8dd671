// Keep rules: an ordered list that picks the copy to keep in each group of duplicates.
// Each rule prefers some copies; copies it cannot tell apart fall through to the next rule,
// and the last tie goes to database order (the lowest file index).
#ifndef VARNELO_CLEANUP_KEEP_RULES_H_
#define VARNELO_CLEANUP_KEEP_RULES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cleanup {

enum class keep_rule_kind {
  protect,        // copies under the folder are never removed, and are preferred as the keeper
  keep_in,        // copies under the folder are preferred
  best_tags,      // the highest tag_score (cleanup/tags.h)
  first,          // the lowest file index: always decides
  shortest_path,  // the fewest bytes in the path
  longest_path,   // the most bytes in the path
  newest,         // the latest modification time (links followed)
  oldest,         // the earliest modification time
};

struct keep_rule {
  keep_rule_kind kind;
  std::string folder;  // protect and keep_in: the folder as given (absolute or relative)
};

// The ordering rules by their names: "best-tags", "first", "shortest-path", "longest-path",
// "newest", "oldest". Nothing for any other name, the folder rules' included.
std::optional<keep_rule_kind> ordering_rule_named(std::string_view name);
// Every rule's name: the ordering rules' as above, and "protect" and "keep-in".
const char* keep_rule_name(keep_rule_kind kind);
// The names of the ordering rules in the order above, for help texts and checks.
std::vector<std::string> ordering_rule_names();
bool is_folder_rule(keep_rule_kind kind);

// Why the folder of a protect or keep-in rule cannot be used, or "" when it can: it must
// exist, be a folder (links followed) and hold a file of the open database, compared by
// real paths. A rule that would match nothing is a mistake to report, never to guess around.
std::string rule_folder_problem(const keep_rule& rule);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_KEEP_RULES_H_
