// varnelo-cli: the command line of the duplicate MP3 finder. Parses the arguments, loads
// the database, runs one command and saves the database when the command changed it.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <sstream>

#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/completion.h"
#include "cli/database_session.h"
#include "cli/interrupt.h"
#include "cli/keep_options.h"
#include "cli/library_messages.h"
#include "cli/man_page.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

namespace {

constexpr const char* kDescription =
    "Finds duplicate MP3 files by their audio content: the MD5 digest of each file without\n"
    "its ID3v2 tag at the start and its ID3v1 tag at the end, so copies of one recording\n"
    "with different tags are found. Works on the database file of the Varnelo window.";

constexpr const char* kFooter =
    "Data goes to standard output; progress, summaries and errors to standard error.\n"
    "On a terminal, a file name holding control characters (or bytes that are not UTF-8) is\n"
    "shown quoted as a shell reads it back, e.g. 'a'$'\\033''b'; into a pipe or a file, with\n"
    "-0 and with --json, names are written byte for byte.\n"
    "Output that cannot be written (a full disk, a closed pipe) is an error; delete and prune\n"
    "then stop before their next deletion, and what they deleted stays recorded.\n"
    "Commands that change the database hold it while they run: another run waits for them,\n"
    "and none runs while the window has the database open. A database that cannot be saved\n"
    "has its entries written to a recovery file, named in the error.\n"
    "Exit status: 0 success, 1 failure, 2 usage error.";

constexpr const char* kDupesFooter =
    "Text: one block per group, a header line \"N Files with Hash digest: HEX\" and one path\n"
    "per line, blocks separated by a blank line. With keep rules each line starts with the\n"
    "file's fate and a tab: keep, go or stay. With --tags each path is followed by tab-\n"
    "separated columns: tags (ID3v2.4+APEv2+ID3v1), title, artist, album, album artist, year,\n"
    "track, genre, pictures, kbit/s, Hz, milliseconds (control characters in them shown as ?).\n"
    "-0: each path followed by a NUL byte, each group ended by one more NUL byte.\n"
    "--json: {\"groups\": [{\"digest\", \"count\", \"files\": [{\"path\", \"size\", "
    "\"index\"}]}],\n"
    "\"statistics\": {\"duplicates\", \"duplicate_mb\", \"duplicate_bytes\", \"files\", "
    "\"total_mb\",\n\"total_bytes\"}}. With --tags each file has \"tags\": {\"readable\", "
    "\"id3v2\" (\"2.4\" or null),\n\"id3v1\", \"ape\", \"title\", \"artist\", \"album\", "
    "\"album_artist\", \"year\", \"track\", \"genre\",\n\"cover_count\", \"cover_bytes\", "
    "\"bitrate_kbps\", \"sample_rate_hz\", \"length_ms\"}; with keep rules \"fate\"\n"
    "and \"reason\", and each group \"left_alone\". The document is always valid UTF-8: in a\n"
    "path that is not valid UTF-8 each invalid byte is written as U+FFFD, and the file gets\n"
    "\"path_hex\", the exact bytes of the path in hexadecimal.\n"
    "Megabytes are whole megabytes per file, summed, as the window counts them.\n"
    "The summary \"found N duplicates in DB! Which take M MB of space.\" goes to standard "
    "error.\n\n";

constexpr const char* kPruneFooter =
    "Removed copies go to the desktop's trash (the home trash, or the trash folder of the\n"
    "copy's own file system), from where a file manager restores them; --permanent deletes\n"
    "them instead. A copy on a file system without a usable trash stays and is reported.\n"
    "Before each removal the kept copy and the copy are read again: a copy is removed only\n"
    "while the kept copy still holds the group's content, when it has that content itself,\n"
    "lies under no --protect folder and is not the kept file under another name (a link).\n"
    "When the kept copy is gone or changed, the next copy in the rules' order is kept\n"
    "instead. A copy that became a link is removed as the link. --dry-run prints the plan\n"
    "(keep:, delete: and stay: lines, each followed by its reason) and reads no content.\n\n";

// Which command was chosen and its arguments.
struct command_line {
  std::string db = "default.mp3db";
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> paths;  // scan, add, delete, digest, search
  bool json = false;
  bool nul = false;
  bool tags = false;
  keep_options prune_keep, dupes_keep;
  bool dry_run = false;
  bool permanent = false;
  double wait_seconds = -1;  // for the lock of a database another run holds; < 0: no limit
};

// The keep rules of a command, checked against the loaded database; nothing when a folder
// of theirs cannot be used (a usage error, already told).
// The keep rules of the command line into *rules; false (told) when a folder of them is no use.
bool checked_rules(const CLI::App& command, const keep_options& options, const console& out,
                   std::vector<cleanup::keep_rule>* rules) {
  *rules = keep_rules_of(command, options);
  return check_rule_folders(*rules, out);
}

int run_command(const CLI::App& command, const command_line& args, const console& out) {
  const std::string name = command.get_name();
  const cleanup::removal_method method =
      args.permanent ? cleanup::removal_method::permanent : cleanup::removal_method::trash;
  // digest reads only the named files, so it works whatever state the database is in.
  if (name == "digest") return run_digest(args.paths, out);

  database_session session(args.db);
  const bool may_change = name == "scan" || name == "add" || name == "clean" ||
                          name == "delete" || name == "verify" || name == "prune";
  // Commands that change the database lock it before loading; those that only read do not.
  if (may_change && !(name == "prune" && args.dry_run) &&
      !session.lock_for_change(out, args.wait_seconds)) {
    return kExitFailure;
  }
  if (!session.load(out)) return kExitFailure;
  // Commands that only read keep the default signals: Ctrl-C ends them at once.
  if (may_change) catch_interrupts();

  int status = kExitSuccess;
  if (name == "scan") {
    status = run_scan(args.paths, out);
  } else if (name == "add") {
    status = run_add(args.paths, out);
  } else if (name == "clean") {
    status = run_clean(out);
  } else if (name == "verify") {
    status = run_verify(session, out);
  } else if (name == "delete") {
    status = run_delete(args.paths, method, out);
  } else if (name == "dupes") {
    dupes_options options;
    options.format = args.json  ? dupes_format::json
                     : args.nul ? dupes_format::nul_separated
                                : dupes_format::text;
    options.tags = args.tags;
    if (!checked_rules(command, args.dupes_keep, out, &options.rules)) return kExitUsage;
    status = run_dupes(options, out);
  } else if (name == "prune") {
    prune_options options;
    options.dry_run = args.dry_run;
    options.method = method;
    if (!checked_rules(command, args.prune_keep, out, &options.rules)) return kExitUsage;
    status = run_prune(options, out);
  } else if (name == "search") {
    status = run_search(args.paths, out);
  } else if (name == "info") {
    status = run_info(session, out);
  }
  // What was done is saved even when its output was lost.
  checked_output::flush();
  if (!session.save_if_changed(out)) return kExitFailure;
  return status;
}

// The help and the version are output too: one that cannot be written is a failure.
int print_help(CLI::App& app, const CLI::Error& request) {
  std::ostringstream text;
  int status = app.exit(request, text, std::cerr);
  checked_output::write(text.str());
  return checked_output::close(console(false)) ? status : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe shows as a failed write (EPIPE) instead of ending the program, so that
  // every command reports it and the ones that change the database still save.
  signal(SIGPIPE, SIG_IGN);
  CLI::App app(kDescription, "varnelo-cli");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("varnelo-cli ") + VARNELO_VERSION);
  app.require_subcommand(1);
  app.fallthrough();

  command_line args;
  app.add_option("--db", args.db,
                 "Database file; \".mp3db\" is appended unless the name contains it")
      ->capture_default_str();
  CLI::Option* quiet =
      app.add_flag("-q,--quiet", args.quiet, "No progress or summaries; errors are still shown");
  app.add_flag("-v,--verbose", args.verbose,
               "Also show the library's diagnostic lines (\"reading id3 title\" and such)")
      ->excludes(quiet);
  app.add_option("--wait", args.wait_seconds,
                 "Seconds to wait for another varnelo-cli run that is changing the database "
                 "(default: until it ends)")
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            double seconds = -1;
            return CLI::detail::lexical_cast(value, seconds) && seconds >= 0
                       ? ""
                       : "needs a number of seconds, 0 or more";
          },
          "SECONDS"));

  CLI::App* scan = app.add_subcommand("scan", "Add every *.mp3 file in folder trees");
  scan->add_option("DIR", args.paths, "Folders to walk")->required();
  scan->footer(
      "Ctrl-C stops the walk; the files added before the stop are saved (a second Ctrl-C\n"
      "quits at once, leaving the database file as it was before the scan).");

  CLI::App* add = app.add_subcommand("add", "Add single files");
  add->add_option("FILE", args.paths, "Files to add")->required();

  app.add_subcommand("clean", "Drop the entries of files that can no longer be read");

  CLI::App* verify =
      app.add_subcommand("verify", "Read every listed file again and note changed content");
  verify->footer(
      "An entry whose file now holds other audio gets its new digest (and leaves its old\n"
      "group); \"changed: PATH\" is written to standard output for each. Files that can no\n"
      "longer be read are named on standard error and keep their entries. Ctrl-C stops the\n"
      "check; what was updated before the stop is saved.");

  CLI::App* del =
      app.add_subcommand("delete", "Move files to the trash and drop them from the database");
  del->add_option("FILE", args.paths, "Files of the database, by any path that names them")
      ->required();
  del->add_flag("--permanent", args.permanent, "Delete the files for good instead");
  del->footer(
      "Writes \"trashed: PATH\" (or \"deleted: PATH\" with --permanent) to standard output for\n"
      "each file removed. The trash is the desktop's: the home trash, or the trash folder of\n"
      "the file's own file system; a file where there is no usable trash stays.");

  CLI::App* dupes = app.add_subcommand("dupes", "List the groups of duplicates");
  CLI::Option* json = dupes->add_flag("--json", args.json, "One JSON document");
  dupes->add_flag("-0,--null", args.nul, "NUL-separated paths")->excludes(json);
  dupes->add_flag("--tags", args.tags, "Each file's tags and stream beside it");
  add_keep_options(dupes, &args.dupes_keep);
  dupes->footer(std::string(kDupesFooter) + kKeepRulesHelp);

  CLI::App* prune =
      app.add_subcommand("prune", "Move every duplicate but one in each group to the trash");
  add_keep_options(prune, &args.prune_keep);
  prune->add_flag("--permanent", args.permanent, "Delete the copies for good instead");
  prune->add_flag("-n,--dry-run", args.dry_run, "Print the plan with its reasons; remove nothing");
  prune->footer(std::string(kPruneFooter) + kKeepRulesHelp);

  CLI::App* search =
      app.add_subcommand("search", "Files whose path or ID3v1 title holds every word");
  search->add_option("WORDS", args.paths, "Words (letter case of A-Z ignored)")->required();

  CLI::App* digest = app.add_subcommand("digest", "Content digests in md5sum's format");
  digest->add_option("FILE", args.paths, "Files to digest")->required();

  app.add_subcommand("info", "Database path, counts and stamp");

  // The build asks the program for its completion script and manual page.
  if (argc == 2 && strcmp(argv[1], kBashCompletionFlag) == 0) {
    return write_bash_completion(app, stdout);
  }
  if ((argc == 2 || argc == 3) && strcmp(argv[1], kManPageFlag) == 0) {
    return write_man_page(app, argc == 3 ? argv[2] : "", stdout);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return print_help(app, e);
  } catch (const CLI::CallForAllHelp& e) {
    return print_help(app, e);
  } catch (const CLI::CallForVersion& e) {
    return print_help(app, e);
  } catch (const CLI::ParseError& e) {
    fprintf(stderr, "varnelo-cli: error: %s\nRun 'varnelo-cli --help' for the usage.\n", e.what());
    return kExitUsage;
  }

  console out(args.quiet);
  int status;
  {
    // Standard output carries only data: the library's lines come here instead.
    library_messages messages(out, args.verbose);
    status = run_command(*app.get_subcommands().front(), args, out);
  }
  if (!checked_output::close(out)) status = kExitFailure;
  return status;
}
