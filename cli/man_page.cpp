// Writes varnelo-cli's manual page from its CLI11 command tree: the texts of --help laid out
// in man macros, with the sections a manual page has beyond them.
#include "cli/man_page.h"

#include <ctype.h>

#include <vector>

#include "cli/command_tree.h"

namespace {

constexpr const char* kSummary = "find duplicate MP3 files by their audio content";

// The files and references of the page, as (term, what it is) pairs.
const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"default.mp3db",
     "The database in the current folder, the same file the Varnelo window works on, unless "
     "--db names another. It is read at the start of every command but digest and written "
     "back when a command changed it."},
};
constexpr const char* kSeeAlso = "\\fBvarnelo\\fR(1), \\fBmd5sum\\fR(1)";

// Text as roff reads it: no backslash or hyphen taken for an escape or a minus sign, no
// line taken for a request.
std::string roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n')) out += "\\&";
      out += c;
    }
  }
  return out;
}

// Whether a line of a help text starts with a short label ("Exit status:", "-0:",
// "--json:"), which begins a line of its own in the page too.
bool starts_with_label(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos || colon > 16) return false;
  for (size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (!isalnum(c) && c != '-' && c != ' ') return false;
  }
  return true;
}

// A help text (lines broken for a terminal) as one filled paragraph, keeping the breaks
// before labelled lines.
std::string paragraph(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (!line.empty()) {
      if (!out.empty() && starts_with_label(line)) out += ".br\n";
      out += roff(line) + "\n";
    }
    start = end + 1;
  }
  return out;
}

std::string bold(const std::string& text) { return "\\fB" + roff(text) + "\\fR"; }
std::string italic(const std::string& text) { return "\\fI" + roff(text) + "\\fR"; }

// An operand as a usage line shows it: "FILE...", "[DIR]".
std::string operand_usage(const CLI::Option* operand) {
  std::string out = italic(command_tree::placeholder(operand));
  if (operand->get_items_expected_max() > 1) out += "...";
  return operand->get_required() ? out : "[" + out + "]";
}

// One option or operand as a tagged paragraph: its spellings and value, then what it does.
std::string item(const CLI::Option* option) {
  std::string out = ".TP\n";
  if (command_tree::is_operand(option)) {
    out += operand_usage(option);
  } else {
    std::string names;
    for (const std::string& spelling : command_tree::spellings(option)) {
      names += (names.empty() ? "" : ", ") + bold(spelling);
    }
    out += names;
    if (command_tree::takes_value(option)) out += " " + italic(command_tree::placeholder(option));
  }
  out += "\n" + roff(option->get_description());
  const std::vector<std::string> choices = command_tree::choices(option);
  if (!choices.empty()) {
    std::string list;
    for (const std::string& choice : choices) list += (list.empty() ? "" : ", ") + bold(choice);
    out += "; one of " + list;
  }
  if (!command_tree::is_operand(option) && command_tree::takes_value(option) &&
      !option->get_default_str().empty()) {
    out += " (default: " + roff(option->get_default_str()) + ")";
  }
  return out + ".\n";
}

bool is_help(const CLI::App& app, const CLI::Option* option) {
  return option == app.get_help_ptr() || option == app.get_help_all_ptr();
}

std::string command_section(const CLI::App& command) {
  std::string heading = bold(command.get_name());
  std::string items;
  for (const CLI::Option* option : command_tree::options(command)) {
    if (is_help(command, option)) continue;
    if (command_tree::is_operand(option)) heading += " " + operand_usage(option);
    items += item(option);
  }
  std::string out = ".SS \"" + heading + "\"\n" + roff(command.get_description()) + ".\n" + items;
  // A command is given its parent's footer when it has none of its own.
  const std::string footer = command.get_footer();
  const CLI::App* parent = command.get_parent();
  if (!footer.empty() && (parent == nullptr || footer != parent->get_footer())) {
    out += ".PP\n" + paragraph(footer);
  }
  return out;
}

}  // namespace

int write_man_page(const CLI::App& app, const std::string& date, FILE* out) {
  std::string title;
  for (char c : app.get_name()) title += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  std::string page = ".TH " + roff(title) + " 1 \"" + roff(date) + "\" \"" +
                     roff(app.get_name() + " " + VARNELO_VERSION) + "\" \"User Commands\"\n";
  page += ".SH NAME\n" + roff(app.get_name()) + " \\- " + roff(kSummary) + "\n";

  page += ".SH SYNOPSIS\n";
  for (const CLI::App* command : command_tree::commands(app)) {
    page += bold(app.get_name()) + " [" + italic("OPTION") + "]... " + bold(command->get_name());
    for (const CLI::Option* option : command_tree::options(*command)) {
      if (command_tree::is_operand(option)) {
        page += " " + operand_usage(option);
      } else if (!is_help(*command, option)) {
        page += " [" + italic("OPTION") + "]...";
        break;
      }
    }
    page += "\n.br\n";
  }

  page += ".SH DESCRIPTION\n" + paragraph(app.get_description());
  if (!app.get_footer().empty()) page += ".PP\n" + paragraph(app.get_footer());

  page += ".SH OPTIONS\nThese come before or after the command.\n";
  for (const CLI::Option* option : command_tree::options(app)) page += item(option);

  page += ".SH COMMANDS\n";
  for (const CLI::App* command : command_tree::commands(app)) page += command_section(*command);

  page += ".SH FILES\n";
  for (const auto& [file, what] : kFiles) page += ".TP\n" + italic(file) + "\n" + roff(what) + "\n";
  page += ".SH SEE ALSO\n" + std::string(kSeeAlso) + "\n";

  fputs(page.c_str(), out);
  return fflush(out) == 0 && ferror(out) == 0 ? 0 : 1;
}
