// The keep rules of prune and dupes as the command line gives them: --keep RULE, --keep-in
// DIR and --protect DIR, each repeatable, taken in the order they are written.
#ifndef VARNELO_CLI_KEEP_OPTIONS_H_
#define VARNELO_CLI_KEEP_OPTIONS_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cleanup/keep_rules.h"
#include "cli/console.h"

struct keep_options {
  std::vector<std::string> keep, keep_in, protect;
};

// Adds --keep, --keep-in and --protect to command, filling options.
void add_keep_options(CLI::App* command, keep_options* options);

// The rules in the order written on the command line (after a successful parse).
std::vector<cleanup::keep_rule> keep_rules_of(const CLI::App& command, const keep_options& options);

// Checks the folders of the rules against the loaded database: each must exist, be a folder
// and hold a file of the database. Tells each one that does not ("--keep-in DIR: REASON")
// and returns false: a usage error, never a silent fallback to another copy.
bool check_rule_folders(const std::vector<cleanup::keep_rule>& rules, const console& out);

// The help text of the rules, for the footers of prune and dupes.
extern const char* const kKeepRulesHelp;

#endif  // VARNELO_CLI_KEEP_OPTIONS_H_
