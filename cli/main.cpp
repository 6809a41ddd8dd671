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
    "per line, blocks separated by a blank line.\n"
    "-0: each path followed by a NUL byte, each group ended by one more NUL byte.\n"
    "--json: {\"groups\": [{\"digest\", \"count\", \"files\": [{\"path\", \"size\", "
    "\"index\"}]}],\n"
    "\"statistics\": {\"duplicates\", \"duplicate_mb\", \"files\", \"total_mb\"}}. The document "
    "is\n"
    "always valid UTF-8: in a path that is not valid UTF-8 each invalid byte is written as\n"
    "U+FFFD, and the file gets \"path_hex\", the exact bytes of the path in hexadecimal.\n"
    "The summary \"found N duplicates in DB! Which take M MB of space.\" goes to standard error.";

constexpr const char* kPruneFooter =
    "Before deleting, each file's content digest is computed again; a changed file is\n"
    "skipped and reported. A copy that is the same file on disk as the kept one (through a\n"
    "link) is skipped. If no copy of a group still holds its content, the group is left\n"
    "alone. --dry-run checks only that files exist and reads no content.";

// Which command was chosen and its arguments.
struct command_line {
  std::string db = "default.mp3db";
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> paths;  // scan, add, delete, digest, search
  bool json = false;
  bool nul = false;
  std::string keep = "first";
  std::string keep_in;
  bool dry_run = false;
  double wait_seconds = -1;  // for the lock of a database another run holds; < 0: no limit
};

int run_command(const std::string& name, const command_line& args, const console& out) {
  // digest reads only the named files, so it works whatever state the database is in.
  if (name == "digest") return run_digest(args.paths, out);

  database_session session(args.db);
  // Commands that change the database lock it before loading; those that only read do not.
  const bool changes = name == "scan" || name == "add" || name == "clean" || name == "delete" ||
                       name == "verify" || (name == "prune" && !args.dry_run);
  if (changes && !session.lock_for_change(out, args.wait_seconds)) return kExitFailure;
  if (!session.load(out)) return kExitFailure;
  // Commands that only read keep the default signals: Ctrl-C ends them at once.
  if (name == "scan" || name == "add" || name == "clean" || name == "delete" || name == "prune" ||
      name == "verify") {
    catch_interrupts();
  }

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
    status = run_delete(args.paths, out);
  } else if (name == "dupes") {
    dupes_format format = args.json  ? dupes_format::json
                          : args.nul ? dupes_format::nul_separated
                                     : dupes_format::text;
    status = run_dupes(format, out);
  } else if (name == "prune") {
    prune_options options;
    options.dry_run = args.dry_run;
    if (!args.keep_in.empty()) {
      options.rule = keep_rule::in_folder;
      options.keep_folder = full_path(args.keep_in);
      struct stat st;
      if (stat(options.keep_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        out.error("%s: cannot keep copies in it: not a folder", args.keep_in.c_str());
        return kExitFailure;
      }
    } else if (args.keep == "shortest-path") {
      options.rule = keep_rule::shortest_path;
    }
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

  CLI::App* del = app.add_subcommand("delete", "Delete files from disk and from the database");
  del->add_option("FILE", args.paths, "Files (as listed in the database) to delete")->required();
  del->footer("Writes \"deleted: PATH\" to standard output for each file deleted.");

  CLI::App* dupes = app.add_subcommand("dupes", "List the groups of duplicates");
  CLI::Option* json = dupes->add_flag("--json", args.json, "One JSON document");
  dupes->add_flag("-0,--null", args.nul, "NUL-separated paths")->excludes(json);
  dupes->footer(kDupesFooter);

  CLI::App* prune = app.add_subcommand("prune", "Delete every duplicate but one in each group");
  CLI::Option* keep = prune
                          ->add_option("--keep", args.keep,
                                       "Which copy to keep: first (lowest index) or shortest-path")
                          ->check(CLI::IsMember({"first", "shortest-path"}))
                          ->capture_default_str();
  prune->add_option("--keep-in", args.keep_in, "Keep a copy under this folder where there is one")
      ->excludes(keep);
  prune->add_flag("-n,--dry-run", args.dry_run, "Print the plan; delete nothing");
  prune->footer(kPruneFooter);

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
    status = run_command(app.get_subcommands().front()->get_name(), args, out);
  }
  if (!checked_output::close(out)) status = kExitFailure;
  return status;
}
