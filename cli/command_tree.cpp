// Reads the CLI11 command tree for the program's descriptions of itself.
#include "cli/command_tree.h"

namespace command_tree {

std::vector<const CLI::App*> commands(const CLI::App& app) {
  // CLI11 hides a command or an option by giving it an empty group.
  return app.get_subcommands([](const CLI::App* command) { return !command->get_group().empty(); });
}

std::vector<const CLI::Option*> options(const CLI::App& app) {
  return app.get_options([](const CLI::Option* option) { return !option->get_group().empty(); });
}

bool is_operand(const CLI::Option* option) {
  return option->get_positional() && !option->nonpositional();
}

bool takes_value(const CLI::Option* option) { return option->get_items_expected_max() > 0; }

std::vector<std::string> spellings(const CLI::Option* option) {
  std::vector<std::string> out;
  for (const std::string& name : option->get_snames()) out.push_back("-" + name);
  for (const std::string& name : option->get_lnames()) out.push_back("--" + name);
  return out;
}

std::vector<std::string> choices(const CLI::Option* option) {
  // A set check describes itself as "{a,b,c}" after the type: "TEXT:{first,shortest-path}".
  const std::string type = option->get_type_name();
  const size_t open = type.find('{');
  const size_t close = type.find('}', open);
  std::vector<std::string> out;
  if (open == std::string::npos || close == std::string::npos) return out;
  std::string choice;
  for (size_t i = open + 1; i <= close; ++i) {
    if (type[i] == ',' || i == close) {
      if (!choice.empty()) out.push_back(choice);
      choice.clear();
    } else if (type[i] != ' ') {
      choice += type[i];
    }
  }
  return out;
}

std::string placeholder(const CLI::Option* option) {
  if (is_operand(option)) return option->get_name(true);
  const std::string type = option->get_type_name();
  return type.substr(0, type.find(':'));
}

}  // namespace command_tree
