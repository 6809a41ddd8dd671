// What the program's own descriptions of itself (its completion script and its manual page)
// read from the CLI11 command tree: the commands, options and operands a user can give.
#ifndef VARNELO_CLI_COMMAND_TREE_H_
#define VARNELO_CLI_COMMAND_TREE_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace command_tree {

// The commands of app in the order they were added, hidden ones left out.
std::vector<const CLI::App*> commands(const CLI::App& app);

// The options of app in the order they were added (operands included), hidden ones left out.
std::vector<const CLI::Option*> options(const CLI::App& app);

// Whether option is an operand (a positional argument) rather than a named option.
bool is_operand(const CLI::Option* option);

// Whether option is followed by a value ("--db FILE"); flags are not.
bool takes_value(const CLI::Option* option);

// Every way to write a named option: "-q", "--quiet".
std::vector<std::string> spellings(const CLI::Option* option);

// The values a set check allows ("--keep" of prune: first, shortest-path); empty without one.
std::vector<std::string> choices(const CLI::Option* option);

// The word that stands for the option's value or the operand in a usage line: the operand's
// name, otherwise the option's type ("TEXT", "DIR", "FILE") without its checks.
std::string placeholder(const CLI::Option* option);

}  // namespace command_tree

#endif  // VARNELO_CLI_COMMAND_TREE_H_
