// The commands of varnelo-cli. Each works on the loaded database, writes its data to
// standard output and its messages through the console, and returns the exit status
// (0 success, 1 failure). Saving is left to the caller.
#ifndef VARNELO_CLI_COMMANDS_H_
#define VARNELO_CLI_COMMANDS_H_

#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/database_session.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int run_scan(const std::vector<std::string>& folders, const console& out);
int run_add(const std::vector<std::string>& files, const console& out);
int run_clean(const console& out);
int run_delete(const std::vector<std::string>& files, const console& out);
int run_verify(database_session& session, const console& out);

enum class dupes_format { text, json, nul_separated };
int run_dupes(dupes_format format, const console& out);

enum class keep_rule { first, shortest_path, in_folder };
struct prune_options {
  keep_rule rule = keep_rule::first;
  std::string keep_folder;  // for keep_rule::in_folder
  bool dry_run = false;
};
int run_prune(const prune_options& options, const console& out);

int run_search(const std::vector<std::string>& words, const console& out);
int run_digest(const std::vector<std::string>& files, const console& out);
int run_info(const database_session& session, const console& out);

#endif  // VARNELO_CLI_COMMANDS_H_
