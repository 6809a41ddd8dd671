// Names of the keep rules and the check of their folders.
#include "cleanup/keep_rules.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <array>
#include <utility>

#include "cleanup/folders.h"
#include "database/mp3_db.h"

namespace cleanup {

namespace {

constexpr std::array<std::pair<keep_rule_kind, const char*>, 6> kOrderingRules = {{
    {keep_rule_kind::best_tags, "best-tags"},
    {keep_rule_kind::first, "first"},
    {keep_rule_kind::shortest_path, "shortest-path"},
    {keep_rule_kind::longest_path, "longest-path"},
    {keep_rule_kind::newest, "newest"},
    {keep_rule_kind::oldest, "oldest"},
}};

}  // namespace

std::optional<keep_rule_kind> ordering_rule_named(std::string_view name) {
  for (const auto& [kind, text] : kOrderingRules)
    if (name == text) return kind;
  return std::nullopt;
}

const char* keep_rule_name(keep_rule_kind kind) {
  if (kind == keep_rule_kind::protect) return "protect";
  if (kind == keep_rule_kind::keep_in) return "keep-in";
  for (const auto& [k, text] : kOrderingRules)
    if (k == kind) return text;
  return "?";
}

std::vector<std::string> ordering_rule_names() {
  std::vector<std::string> names;
  for (const auto& entry : kOrderingRules) names.emplace_back(entry.second);
  return names;
}

bool is_folder_rule(keep_rule_kind kind) {
  return kind == keep_rule_kind::protect || kind == keep_rule_kind::keep_in;
}

std::string rule_folder_problem(const keep_rule& rule) {
  if (!is_folder_rule(rule.kind)) return {};
  struct stat st;
  if (stat(rule.folder.c_str(), &st) != 0) return strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "not a folder";
  const std::string real = real_path(rule.folder);
  if (real.empty()) return strerror(errno);
  folder_resolver folders;
  for (uint32_t k = 0, n = file_getfilenum(); k < n; ++k) {
    if (folders.file_under(db_getfileentry(k)->filename, real)) return {};
  }
  return "holds no file of the database";
}

}  // namespace cleanup
