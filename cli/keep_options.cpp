// --keep, --keep-in and --protect, in command-line order.
#include "cli/keep_options.h"

#include <map>

const char* const kKeepRulesHelp =
    "Keep rules pick the copy of each group to keep, in the order written: each rule keeps\n"
    "the copies it prefers among those still tied, the next rule decides among those, and\n"
    "the last tie goes to the first copy in the database.\n"
    "  --protect DIR     copies under DIR are never removed and are preferred (repeatable)\n"
    "  --keep-in DIR     copies under DIR are preferred (repeatable); a group without a copy\n"
    "                    under one is left alone unless a --keep rule decides it\n"
    "  --keep best-tags  the most complete tags: 2 points each for title, artist and album,\n"
    "                    1 each for album artist, year, track and genre, 2 for cover art,\n"
    "                    2 for an ID3v2.4 tag or 1 for ID3v2.3\n"
    "  --keep first | shortest-path | longest-path | newest | oldest\n"
    "                    the first in the database, the path of fewest or most bytes, the\n"
    "                    latest or earliest modification time\n"
    "Folders are compared by their real paths (a linked folder is the one it names) and by\n"
    "whole names (/music/a is not under /music/ab); each must exist and hold a listed file.";

void add_keep_options(CLI::App* command, keep_options* options) {
  command->add_option("--keep", options->keep, "Keep the copy that RULE prefers (repeatable)")
      ->type_name("RULE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::IsMember(cleanup::ordering_rule_names()));
  // One value each time, so that the order of the rules is the order they are written in.
  for (auto [name, values, help] :
       {std::tuple{"--keep-in", &options->keep_in, "Prefer copies under DIR (repeatable)"},
        std::tuple{"--protect", &options->protect, "Never remove copies under DIR (repeatable)"}}) {
    command->add_option(name, *values, help)
        ->type_name("DIR")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
}

std::vector<cleanup::keep_rule> keep_rules_of(const CLI::App& command,
                                              const keep_options& options) {
  // parse_order lists an option once per time it was given; the n-th time is its n-th value.
  std::map<std::string, size_t> seen;
  std::vector<cleanup::keep_rule> rules;
  for (const CLI::Option* option : command.parse_order()) {
    const std::string name = option->get_name();
    const size_t n = seen[name]++;
    if (name == "--keep" && n < options.keep.size()) {
      rules.push_back({*cleanup::ordering_rule_named(options.keep[n]), {}});
    } else if (name == "--keep-in" && n < options.keep_in.size()) {
      rules.push_back({cleanup::keep_rule_kind::keep_in, options.keep_in[n]});
    } else if (name == "--protect" && n < options.protect.size()) {
      rules.push_back({cleanup::keep_rule_kind::protect, options.protect[n]});
    }
  }
  return rules;
}

bool check_rule_folders(const std::vector<cleanup::keep_rule>& rules, const console& out) {
  bool ok = true;
  for (const cleanup::keep_rule& rule : rules) {
    const std::string problem = cleanup::rule_folder_problem(rule);
    if (problem.empty()) continue;
    out.error("--%s %s: %s", cleanup::keep_rule_name(rule.kind), out.shown(rule.folder).c_str(),
              problem.c_str());
    ok = false;
  }
  return ok;
}
