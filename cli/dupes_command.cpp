// dupes: the duplicate groups as text, as one JSON document, or as NUL-separated paths;
// with --tags each file's tags beside it, with keep rules each file's fate in a cleanup.
#include <stdio.h>
#include <string.h>

#include <nlohmann/json.hpp>
#include <optional>

#include "cleanup/groups.h"
#include "cleanup/plan.h"
#include "cleanup/tags.h"
#include "cli/checked_output.h"
#include "cli/commands.h"
#include "cli/paths.h"
#include "database/mp3_db.h"

namespace {

using json = nlohmann::json;

// The groups, and what the options add to each file: its tags, and its fate and reason in
// a plan by the keep rules. One of each per file, in the groups' order.
struct listing {
  cleanup::duplicate_groups groups;
  std::optional<cleanup::cleanup_plan> plan;
  std::vector<const cleanup::planned_copy*> fate;  // by position in groups.files
  bool tags = false;
};

listing make_listing(const dupes_options& options) {
  listing out;
  out.groups = cleanup::group_by_digest();
  out.tags = options.tags;
  if (options.rules.empty()) return out;
  out.plan = cleanup::make_plan(out.groups, options.rules);
  out.fate.resize(out.groups.files.size(), nullptr);
  // The plan ranks each group's copies; a file's place in the listing is its table order.
  for (size_t g = 0; g < out.groups.groups.size(); ++g) {
    const cleanup::digest_group& group = out.groups.groups[g];
    for (const cleanup::planned_copy& copy : out.plan->copies_of(out.plan->groups[g])) {
      auto files = out.groups.files_of(group);
      for (size_t i = 0; i < files.size(); ++i)
        if (files[i] == copy.index) out.fate[group.first + i] = &copy;
    }
  }
  return out;
}

std::string tag_kinds(const cleanup::file_tags& t) {
  std::string kinds;
  if (t.id3v2) kinds += "ID3v2." + std::to_string(t.id3v2_version);
  if (t.ape) kinds += std::string(kinds.empty() ? "" : "+") + "APEv2";
  if (t.id3v1) kinds += std::string(kinds.empty() ? "" : "+") + "ID3v1";
  return kinds;
}

json tags_json(const cleanup::file_tags& t) {
  return {{"readable", t.readable},
          {"id3v2", t.id3v2 ? json("2." + std::to_string(t.id3v2_version)) : json(nullptr)},
          {"id3v1", t.id3v1},
          {"ape", t.ape},
          {"title", t.title},
          {"artist", t.artist},
          {"album", t.album},
          {"album_artist", t.album_artist},
          {"year", t.year},
          {"track", t.track},
          {"genre", t.genre},
          {"cover_count", t.cover_count},
          {"cover_bytes", t.cover_bytes},
          {"bitrate_kbps", t.bitrate_kbps},
          {"sample_rate_hz", t.sample_rate_hz},
          {"length_ms", t.length_ms}};
}

// The tag columns of a text line, each after a tab; text fields with control characters
// (a tab or a line end in a title) shown with '?' so that columns and lines stay whole.
std::string tags_columns(const cleanup::file_tags& t) {
  std::string line;
  for (const std::string& column :
       {tag_kinds(t), t.title, t.artist, t.album, t.album_artist,
        t.year != 0 ? std::to_string(t.year) : "", t.track != 0 ? std::to_string(t.track) : "",
        t.genre, std::to_string(t.cover_count), std::to_string(t.bitrate_kbps),
        std::to_string(t.sample_rate_hz), std::to_string(t.length_ms)}) {
    line += '\t';
    line += printable(column);
  }
  return line;
}

std::string dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// One file as JSON. A path that is not valid UTF-8 shows U+FFFD for each byte that does
// not fit (the serializer's replacement), and its exact bytes as hex in "path_hex".
json file_json(const listing& l, const cleanup::digest_group& group, size_t place) {
  const uint32_t index = l.groups.files[place];
  const fileentry* entry = db_getfileentry(index);
  std::string path = entry->filename;
  json file = {{"path", path}, {"size", entry->filesize}, {"index", index}};
  if (!is_valid_utf8(path)) {
    file["path_hex"] = to_hex(reinterpret_cast<const unsigned char*>(path.data()), path.size());
  }
  if (l.tags) file["tags"] = tags_json(cleanup::read_tags(entry->filename));
  if (const cleanup::planned_copy* copy = l.plan ? l.fate[place] : nullptr) {
    const cleanup::planned_group& planned = l.plan->groups[&group - l.groups.groups.data()];
    file["fate"] = cleanup::fate_name(copy->fate);
    file["reason"] = cleanup::reason_text(*l.plan, planned, *copy);
  }
  return file;
}

// Groups one per line inside the document, so that large listings stay readable and
// are written without holding the whole document in memory.
void print_json(const listing& l) {
  checked_output::write("{\"groups\": [");
  bool first = true;
  for (const cleanup::digest_group& group : l.groups.groups) {
    if (!checked_output::ok()) return;
    json files = json::array();
    for (size_t place = group.first; place < group.first + group.count; ++place)
      files.push_back(file_json(l, group, place));
    json value = {{"digest", to_hex(group.digest.data(), group.digest.size())},
                  {"count", group.count},
                  {"files", std::move(files)}};
    if (l.plan) value["left_alone"] = l.plan->groups[&group - l.groups.groups.data()].left_alone;
    checked_output::print("%s\n%s", first ? "" : ",", dump(value).c_str());
    first = false;
  }
  const cleanup::group_statistics& s = l.groups.statistics;
  json statistics = {{"duplicates", s.duplicates},
                     {"duplicate_mb", s.duplicate_mb},
                     {"duplicate_bytes", s.duplicate_bytes},
                     {"files", s.files},
                     {"total_mb", s.total_mb},
                     {"total_bytes", s.total_bytes}};
  checked_output::print("%s],\n\"statistics\": %s}\n", l.groups.groups.empty() ? "" : "\n",
                        dump(statistics).c_str());
}

// On a terminal a name holding control characters is quoted; elsewhere the exact bytes.
void print_text(const listing& l) {
  bool first = true;
  for (const cleanup::digest_group& group : l.groups.groups) {
    if (!checked_output::ok()) return;
    if (!first) checked_output::write("\n");
    first = false;
    // The header is the window's group label.
    checked_output::print("%u Files with Hash digest: %s\n", group.count,
                          to_hex(group.digest.data(), group.digest.size()).c_str());
    for (size_t place = group.first; place < group.first + group.count; ++place) {
      const char* path = db_getfileentry(l.groups.files[place])->filename;
      std::string line;
      if (l.plan) line = std::string(cleanup::fate_name(l.fate[place]->fate)) + "\t";
      line += checked_output::shown(path);
      if (l.tags) line += tags_columns(cleanup::read_tags(path));
      checked_output::print("%s\n", line.c_str());
    }
  }
}

// The exact bytes, on a terminal too: -0 is asked for by programs.
void print_nul_separated(const listing& l) {
  for (const cleanup::digest_group& group : l.groups.groups) {
    if (!checked_output::ok()) return;
    for (uint32_t index : l.groups.files_of(group)) {
      const char* name = db_getfileentry(index)->filename;
      checked_output::write(std::string_view(name, strlen(name) + 1));
    }
    checked_output::write(std::string_view("", 1));
  }
}

}  // namespace

int run_dupes(const dupes_options& options, const console& out) {
  const listing l = make_listing(options);
  switch (options.format) {
    case dupes_format::text:
      print_text(l);
      break;
    case dupes_format::json:
      print_json(l);
      break;
    case dupes_format::nul_separated:
      print_nul_separated(l);
      break;
  }
  if (!out.quiet()) {
    const cleanup::group_statistics& s = l.groups.statistics;
    fprintf(stderr, "found %lld duplicates in DB! Which take %lld MB of space.\n",
            static_cast<long long>(s.duplicates), static_cast<long long>(s.duplicate_mb));
    out.note("duplicates take %llu bytes; all %llu files %llu bytes (%llu MB)",
             static_cast<unsigned long long>(s.duplicate_bytes),
             static_cast<unsigned long long>(s.files),
             static_cast<unsigned long long>(s.total_bytes),
             static_cast<unsigned long long>(s.total_mb));
  }
  // The write error itself is reported when the run ends.
  return checked_output::flush() ? kExitSuccess : kExitFailure;
}
