// dupes: the duplicate groups as text, as one JSON document, or as NUL-separated paths.
#include <stdio.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/duplicate_groups.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

namespace {

using json = nlohmann::json;

std::string digest_hex(int32_t hashid) {
  const unsigned char* digest = db_gethashentry(static_cast<uint32_t>(hashid));
  return to_hex(digest, 16);
}

// One file as JSON. A path that is not valid UTF-8 shows U+FFFD for each byte that does
// not fit (the serializer's replacement), and its exact bytes as hex in "path_hex".
json file_json(int32_t index) {
  const fileentry* entry = db_getfileentry(static_cast<uint32_t>(index));
  std::string path = entry->filename;
  json file = {{"path", path}, {"size", entry->filesize}, {"index", index}};
  if (!is_valid_utf8(path)) {
    file["path_hex"] = to_hex(reinterpret_cast<const unsigned char*>(path.data()), path.size());
  }
  return file;
}

std::string dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Groups one per line inside the document, so that large listings stay readable and
// are written without holding the whole document in memory.
void print_json(const duplicate_listing& listing) {
  checked_output::write("{\"groups\": [");
  bool first = true;
  for (const duplicate_group& group : listing.groups) {
    if (!checked_output::ok()) return;
    json files = json::array();
    for (int32_t index : group.files) files.push_back(file_json(index));
    json value = {{"digest", digest_hex(group.hashid)},
                  {"count", group.files.size()},
                  {"files", std::move(files)}};
    checked_output::print("%s\n%s", first ? "" : ",", dump(value).c_str());
    first = false;
  }
  const duplicate_statistics& s = listing.statistics;
  json statistics = {{"duplicates", s.duplicates},
                     {"duplicate_mb", s.duplicate_mb},
                     {"files", s.files},
                     {"total_mb", s.total_mb}};
  checked_output::print("%s],\n\"statistics\": %s}\n", listing.groups.empty() ? "" : "\n",
                        dump(statistics).c_str());
}

// On a terminal a name holding control characters is quoted; elsewhere the exact bytes.
void print_text(const duplicate_listing& listing) {
  bool first = true;
  for (const duplicate_group& group : listing.groups) {
    if (!checked_output::ok()) return;
    if (!first) checked_output::write("\n");
    first = false;
    // The header is the window's group label.
    checked_output::print("%zu Files with Hash digest: %s\n", group.files.size(),
                          digest_hex(group.hashid).c_str());
    for (int32_t index : group.files) {
      std::string name = checked_output::shown(db_getfileentry(index)->filename);
      checked_output::print("%s\n", name.c_str());
    }
  }
}

// The exact bytes, on a terminal too: -0 is asked for by programs.
void print_nul_separated(const duplicate_listing& listing) {
  for (const duplicate_group& group : listing.groups) {
    if (!checked_output::ok()) return;
    for (int32_t index : group.files) {
      const char* name = db_getfileentry(index)->filename;
      checked_output::write(std::string_view(name, strlen(name) + 1));
    }
    checked_output::write(std::string_view("", 1));
  }
}

}  // namespace

int run_dupes(dupes_format format, const console& out) {
  duplicate_listing listing = list_duplicates();
  switch (format) {
    case dupes_format::text:
      print_text(listing);
      break;
    case dupes_format::json:
      print_json(listing);
      break;
    case dupes_format::nul_separated:
      print_nul_separated(listing);
      break;
  }
  if (!out.quiet()) {
    fprintf(stderr, "found %lld duplicates in DB! Which take %lld MB of space.\n",
            static_cast<long long>(listing.statistics.duplicates),
            static_cast<long long>(listing.statistics.duplicate_mb));
  }
  // The write error itself is reported when the run ends.
  return checked_output::flush() ? kExitSuccess : kExitFailure;
}
