// The manual page of varnelo-cli, written from the program's own command tree, so that it
// lists every command and option the parser accepts with the texts of --help.
#ifndef VARNELO_CLI_MAN_PAGE_H_
#define VARNELO_CLI_MAN_PAGE_H_

#include <stdio.h>

#include <CLI/CLI.hpp>
#include <string>

// The argument (first, not listed in --help) that asks for the manual page instead of a
// command; an argument after it is the page's date. The build runs it for the installed page.
inline constexpr const char* kManPageFlag = "--man-page";

// Writes app's manual page in roff (man macros), dated date (e.g. "December 2026"; may be
// empty): the description, the options, each command with its operands, options and notes,
// the files it works on and where to read on. Returns 0, or 1 when out could not be written.
int write_man_page(const CLI::App& app, const std::string& date, FILE* out);

#endif  // VARNELO_CLI_MAN_PAGE_H_
