// Column texts from the cleanup library's tag record, and the differences within a group.
#include "ui/tag_columns.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QStringList>

#include <algorithm>

file_facts read_facts(const char* path) {
  file_facts facts;
  facts.tags = cleanup::read_tags(path);
  struct stat st;
  if (stat(path, &st) == 0) facts.modified = static_cast<int64_t>(st.st_mtim.tv_sec);
  return facts;
}

QString column_title(int column) {
  switch (column) {
    case kLabelColumn: return QStringLiteral("Group / File");
    case kTitleColumn: return QStringLiteral("Title");
    case kArtistColumn: return QStringLiteral("Artist");
    case kAlbumColumn: return QStringLiteral("Album");
    case kYearColumn: return QStringLiteral("Year");
    case kTrackColumn: return QStringLiteral("Track");
    case kTagKindsColumn: return QStringLiteral("Tags");
    case kCoverColumn: return QStringLiteral("Cover Art");
    case kBitrateColumn: return QStringLiteral("Bitrate");
    case kModifiedColumn: return QStringLiteral("Modified");
    default: return QString();
  }
}

int column_chars(int column) {
  switch (column) {
    case kLabelColumn: return 72;
    case kTitleColumn: case kAlbumColumn: return 26;
    case kArtistColumn: return 20;
    case kYearColumn: return 8;
    case kTrackColumn: return 6;
    case kTagKindsColumn: return 15;
    case kCoverColumn: case kBitrateColumn: return 11;
    case kModifiedColumn: return 17;
    default: return 10;
  }
}

QString tag_kinds_text(const cleanup::file_tags& t) {
  QStringList kinds;
  if (t.id3v2) kinds << QStringLiteral("ID3v2.%1").arg(t.id3v2_version);
  if (t.ape) kinds << QStringLiteral("APEv2");
  // Beside an ID3v2 tag the short form reads as "ID3v2.4+v1".
  if (t.id3v1) kinds << (t.id3v2 ? QStringLiteral("v1") : QStringLiteral("ID3v1"));
  return kinds.join(QLatin1Char('+'));
}

QString column_text(const file_facts& facts, int column) {
  const cleanup::file_tags& t = facts.tags;
  auto number = [](unsigned n) { return n != 0 ? QString::number(n) : QString(); };
  switch (column) {
    case kTitleColumn: return QString::fromStdString(t.title);
    case kArtistColumn: return QString::fromStdString(t.artist);
    case kAlbumColumn: return QString::fromStdString(t.album);
    case kYearColumn: return number(t.year);
    case kTrackColumn: return number(t.track);
    case kTagKindsColumn: return tag_kinds_text(t);
    case kCoverColumn:
      if (t.cover_count == 0) return QString();
      return QStringLiteral("%1 (%2 KB)").arg(t.cover_count).arg((t.cover_bytes + 1023) / 1024);
    case kBitrateColumn:
      return t.bitrate_kbps > 0 ? QStringLiteral("%1 kbps").arg(t.bitrate_kbps) : QString();
    case kModifiedColumn:
      if (facts.modified < 0) return QString();
      return QDateTime::fromSecsSinceEpoch(facts.modified).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    default: return QString();
  }
}

bool compared_within_group(int column) {
  return column > kLabelColumn && column < kColumnCount && column != kModifiedColumn;
}

std::vector<uint32_t> standing_out(const std::vector<const file_facts*>& copies) {
  std::vector<uint32_t> masks(copies.size(), 0);
  std::vector<QString> texts(copies.size());
  for (int column = 0; column < kColumnCount; ++column) {
    if (!compared_within_group(column)) continue;
    for (size_t i = 0; i < copies.size(); ++i) texts[i] = column_text(*copies[i], column);
    // How many copies share each copy's text; the most shared text is the group's own.
    std::vector<size_t> shared(copies.size(), 0);
    for (size_t i = 0; i < copies.size(); ++i)
      shared[i] = static_cast<size_t>(std::count(texts.begin(), texts.end(), texts[i]));
    const size_t most = copies.empty() ? 0 : *std::max_element(shared.begin(), shared.end());
    if (most == copies.size()) continue;  // all agree
    size_t texts_most_shared = 0;
    for (size_t i = 0; i < copies.size(); ++i) texts_most_shared += shared[i] == most;
    const bool majority = texts_most_shared == most;  // exactly one text is shared by `most`
    for (size_t i = 0; i < copies.size(); ++i)
      if (!majority || shared[i] < most) masks[i] |= uint32_t{1} << column;
  }
  return masks;
}
