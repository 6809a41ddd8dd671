// The columns of the tree beside its label column: a file's tags and properties as texts,
// read through the cleanup library, and which of them stand out within a group of copies.
#ifndef VARNELO_UI_TAG_COLUMNS_H_
#define VARNELO_UI_TAG_COLUMNS_H_

#include <stdint.h>

#include <QString>

#include <vector>

#include "cleanup/tags.h"

enum tree_column : int {
  kLabelColumn = 0,  // the item texts of the duplicates view, unchanged
  kTitleColumn,
  kArtistColumn,
  kAlbumColumn,
  kYearColumn,
  kTrackColumn,
  kTagKindsColumn,  // which tags the file carries: "ID3v2.4+v1"
  kCoverColumn,
  kBitrateColumn,
  kModifiedColumn,
  kColumnCount
};

// What the columns show of one file: its tags and stream, and its modification time.
struct file_facts {
  cleanup::file_tags tags;
  int64_t modified = -1;  // seconds since the epoch; -1 when it cannot be read
};

// Reads the facts of the file at path (a file that cannot be read gives empty facts).
file_facts read_facts(const char* path);

QString column_title(int column);
// The width a column starts with, in average character widths.
int column_chars(int column);
// The text of column for a file.
QString column_text(const file_facts& facts, int column);
// "ID3v2.4+v1", "ID3v2.3+APEv2", "ID3v1", or "" without tags.
QString tag_kinds_text(const cleanup::file_tags& tags);

// Columns whose difference between copies of one recording matters (the modification time
// always differs and is left out).
bool compared_within_group(int column);

// For each copy of a group (in its order) and each compared column: whether its text stands
// out, i.e. differs from the text most copies share (with no majority, every text stands out).
// Bit c of a copy's mask is column c.
std::vector<uint32_t> standing_out(const std::vector<const file_facts*>& copies);

#endif  // VARNELO_UI_TAG_COLUMNS_H_
