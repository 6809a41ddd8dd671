// The bash completion of varnelo-cli, written from the program's own command tree, so that
// its commands, options and option values are always those the parser accepts.
#ifndef VARNELO_CLI_COMPLETION_H_
#define VARNELO_CLI_COMPLETION_H_

#include <stdio.h>

#include <CLI/CLI.hpp>

// The argument (given alone, not listed in --help) that asks for the completion script
// instead of a command; the build runs it to make the installed completion file.
inline constexpr const char* kBashCompletionFlag = "--bash-completion";

// Writes a bash script that registers the completion of varnelo-cli: the commands, each
// command's options (with the parent's when the command passes unknown options up), and the
// values an option or operand takes: its listed choices, folders when its name or type says
// DIR, file names otherwise. Hidden options and commands are left out. Returns 0, or 1 when
// out could not be written.
int write_bash_completion(const CLI::App& app, FILE* out);

#endif  // VARNELO_CLI_COMPLETION_H_
