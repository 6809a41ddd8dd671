// Writes varnelo-cli's bash completion from its CLI11 command tree: the tables of commands,
// options and values come from the tree, the completing function around them is fixed.
#include "cli/completion.h"

#include <ctype.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cli/command_tree.h"

namespace {

// What the completion offers for an option's value or a command's operands.
constexpr const char* kFolders = "@dirs";
constexpr const char* kFiles = "@files";

// Single quotes for bash, so that no word of the tree is ever read as code.
std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

// The choices of a set check, then folders when the value's name or type says DIR ("DIR",
// "TEXT:DIR"), otherwise file names as bash itself would offer.
std::string value_kind(const CLI::Option* option) {
  const std::vector<std::string> choices = command_tree::choices(option);
  if (!choices.empty()) return joined(choices);
  if (option->get_type_name().find("DIR") != std::string::npos ||
      command_tree::placeholder(option).find("DIR") != std::string::npos) {
    return kFolders;
  }
  return kFiles;
}

// The table key of the program itself, before any command: bash has no empty keys.
constexpr const char* kNoCommand = "-";

// Everything the completion knows of one command.
struct command_table {
  std::vector<std::string> options;           // every spelling, "-q" and "--quiet" alike
  std::map<std::string, std::string> values;  // spelling of an option taking a value -> kind
  std::string operands;                       // kind of the operands, if any
};

void add_options(const CLI::App& app, command_table& table) {
  for (const CLI::Option* option : command_tree::options(app)) {
    if (command_tree::is_operand(option)) {
      if (table.operands.empty()) table.operands = value_kind(option);
      continue;
    }
    for (const std::string& spelling : command_tree::spellings(option)) {
      if (std::find(table.options.begin(), table.options.end(), spelling) != table.options.end()) {
        continue;
      }
      table.options.push_back(spelling);
      if (command_tree::takes_value(option)) table.values[spelling] = value_kind(option);
    }
  }
}

command_table table_of(const CLI::App& command) {
  command_table table;
  add_options(command, table);
  // With fallthrough the parent's options are accepted after the command too.
  if (command.get_parent() != nullptr && command.get_fallthrough()) {
    add_options(*command.get_parent(), table);
  }
  return table;
}

// The function that bash calls. It reads the tables above it: the command is the first word
// that is neither an option nor the value of one, and the word before the cursor (or before
// an "=" that bash split off) decides whether a value is being completed.
constexpr const char* kCompleter = R"BASH(
  local cur=${COMP_WORDS[COMP_CWORD]} command=- word='' option='' kind='' pending='' i
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == = ]]; then continue; fi
    if [[ -n $pending ]]; then pending=''; continue; fi
    case $word in
      --) break ;;
      -*=*) ;;
      -*) [[ -n ${values["$command $word"]+set} ]] && pending=1 ;;
      *) [[ $command == - && " $commands " == *" $word "* ]] && command=$word ;;
    esac
  done

  if [[ $cur == = ]]; then
    option=${COMP_WORDS[COMP_CWORD-1]}
    cur=''
  elif ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD-1]} == = ]]; then
    option=${COMP_WORDS[COMP_CWORD-2]}
  elif ((COMP_CWORD > 0)); then
    option=${COMP_WORDS[COMP_CWORD-1]}
  fi
  if [[ $option == -* && -n ${values["$command $option"]+set} ]]; then
    kind=${values["$command $option"]}
  elif [[ $cur == -* ]]; then
    kind=${options["$command"]-}
  elif [[ $command == - ]]; then
    kind=$commands
  else
    kind=${operands["$command"]-}
  fi

  case $kind in
    @dirs) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    @files) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    *) mapfile -t COMPREPLY < <(compgen -W "$kind" -- "$cur") ;;
  esac
}
)BASH";

}  // namespace

int write_bash_completion(const CLI::App& app, FILE* out) {
  const std::string program = app.get_name();
  std::string function = "_";
  for (char c : program) function += isalnum(static_cast<unsigned char>(c)) ? c : '_';

  std::vector<std::string> commands;
  std::map<std::string, command_table> tables;
  tables[kNoCommand] = table_of(app);
  for (const CLI::App* command : command_tree::commands(app)) {
    commands.push_back(command->get_name());
    tables[command->get_name()] = table_of(*command);
  }

  std::string options, values, operands;
  for (const auto& [name, table] : tables) {
    options += "\n    [" + quoted(name) + "]=" + quoted(joined(table.options));
    for (const auto& [spelling, kind] : table.values) {
      values += "\n    [" + quoted(name + " " + spelling) + "]=" + quoted(kind);
    }
    if (!table.operands.empty()) {
      operands += "\n    [" + quoted(name) + "]=" + quoted(table.operands);
    }
  }

  std::string script = "# bash completion for " + program +
                       ", written by the program from its own commands and options.\n" + function +
                       "() {\n  local commands=" + quoted(joined(commands)) +
                       "\n  local -A options=(" + options + "\n  )\n  local -A values=(" + values +
                       "\n  )\n  local -A operands=(" + operands + "\n  )" + kCompleter +
                       "complete -F " + function + " " + program + "\n";
  fputs(script.c_str(), out);
  return fflush(out) == 0 && ferror(out) == 0 ? 0 : 1;
}
