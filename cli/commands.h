// The commands of varnelo-cli. Each works on the loaded database, writes its data to
// standard output and its messages through the console, and returns the exit status
// (0 success, 1 failure). Saving is left to the caller.
#ifndef VARNELO_CLI_COMMANDS_H_
#define VARNELO_CLI_COMMANDS_H_

#include <string>
#include <vector>

#include "cleanup/keep_rules.h"
#include "cleanup/removal.h"
#include "cli/console.h"
#include "cli/database_session.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int run_scan(const std::vector<std::string>& folders, const console& out);
int run_add(const std::vector<std::string>& files, const console& out);
int run_clean(const console& out);
// Removes the named files from their places (to the trash unless method says otherwise)
// and their entries from the database.
int run_delete(const std::vector<std::string>& files, cleanup::removal_method method,
               const console& out);
int run_verify(database_session& session, const console& out);

enum class dupes_format { text, json, nul_separated };
struct dupes_options {
  dupes_format format = dupes_format::text;
  bool tags = false;                      // each file's tags beside it
  std::vector<cleanup::keep_rule> rules;  // given: each file's fate by these rules
};
int run_dupes(const dupes_options& options, const console& out);

struct prune_options {
  std::vector<cleanup::keep_rule> rules;  // none: keep the first copy of each group
  cleanup::removal_method method = cleanup::removal_method::trash;
  bool dry_run = false;
};
int run_prune(const prune_options& options, const console& out);

int run_search(const std::vector<std::string>& words, const console& out);
int run_digest(const std::vector<std::string>& files, const console& out);
int run_info(const database_session& session, const console& out);

#endif  // VARNELO_CLI_COMMANDS_H_
