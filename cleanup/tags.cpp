// Reading tags through TagLib's MPEG file, which sees ID3v2, APEv2 and ID3v1 side by side.
// The file is opened here, the way the database opens files (regular files only, without
// blocking), and handed to TagLib as an open stream.
#include "cleanup/tags.h"

#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>

#include <algorithm>

#include "platform/platform.h"

namespace cleanup {

namespace {

std::string utf8(const TagLib::String& text) { return text.to8Bit(true); }

// The album artist is no field of TagLib's common tag: ID3v2 keeps it in TPE2, APEv2 in an
// item named "Album Artist" (or "AlbumArtist").
std::string album_artist_of(TagLib::MPEG::File& file) {
  if (TagLib::ID3v2::Tag* v2 = file.ID3v2Tag(false)) {
    const TagLib::ID3v2::FrameList& frames = v2->frameListMap()["TPE2"];
    if (!frames.isEmpty() && !frames.front()->toString().isEmpty())
      return utf8(frames.front()->toString());
  }
  if (TagLib::APE::Tag* ape = file.APETag(false)) {
    const TagLib::APE::ItemListMap& items = ape->itemListMap();
    for (const char* key : {"ALBUM ARTIST", "ALBUMARTIST"}) {
      auto it = items.find(key);
      if (it != items.end() && !it->second.toString().isEmpty()) return utf8(it->second.toString());
    }
  }
  return {};
}

// TagLib's year is the recording time (TDRC, or TYER of older tags). Taggers that write
// only a release date (TDRL) or an original release date (TDOR) mean the year as well.
unsigned release_year_of(TagLib::MPEG::File& file) {
  TagLib::ID3v2::Tag* v2 = file.ID3v2Tag(false);
  if (v2 == nullptr) return 0;
  for (const char* id : {"TDRL", "TDOR"}) {
    const TagLib::ID3v2::FrameList& frames = v2->frameListMap()[id];
    if (frames.isEmpty()) continue;
    const TagLib::String text = frames.front()->toString();
    if (text.size() < 4) continue;
    bool ok = false;
    const int year = text.substr(0, 4).toInt(&ok);
    if (ok && year > 0) return static_cast<unsigned>(year);
  }
  return 0;
}

void count_covers(TagLib::MPEG::File& file, file_tags* tags) {
  if (TagLib::ID3v2::Tag* v2 = file.ID3v2Tag(false)) {
    for (TagLib::ID3v2::Frame* frame : v2->frameListMap()["APIC"]) {
      auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
      if (picture == nullptr) continue;
      ++tags->cover_count;
      tags->cover_bytes += picture->picture().size();
    }
  }
  if (TagLib::APE::Tag* ape = file.APETag(false)) {
    for (const auto& [key, item] : ape->itemListMap()) {
      if (item.type() == TagLib::APE::Item::Binary && key.startsWith("COVER ART")) {
        ++tags->cover_count;
        tags->cover_bytes += item.binaryData().size();
      }
    }
  }
}

}  // namespace

file_tags read_tags(const char* path) {
  file_tags tags;
  platform::unique_fd fd = platform::open_regular_fd(path, nullptr);
  if (!fd) return tags;
  // The stream takes the descriptor over and closes it.
  TagLib::FileStream stream(fd.release(), true);
  if (!stream.isOpen()) return tags;
  TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), true,
                          TagLib::AudioProperties::Average);
  if (!file.isValid()) return tags;
  const TagLib::MPEG::Properties* audio = file.audioProperties();
  const bool has_audio = audio != nullptr && audio->sampleRate() > 0;
  // TagLib takes an empty file for an MPEG file without frames: that reads as nothing.
  if (!has_audio && !file.hasID3v2Tag() && !file.hasAPETag() && !file.hasID3v1Tag()) return tags;

  tags.readable = true;
  tags.id3v2 = file.hasID3v2Tag();
  if (tags.id3v2) tags.id3v2_version = static_cast<int>(file.ID3v2Tag()->header()->majorVersion());
  tags.id3v1 = file.hasID3v1Tag();
  tags.ape = file.hasAPETag();

  if (const TagLib::Tag* tag = file.tag()) {
    tags.title = utf8(tag->title());
    tags.artist = utf8(tag->artist());
    tags.album = utf8(tag->album());
    tags.genre = utf8(tag->genre());
    tags.year = tag->year();
    tags.track = tag->track();
  }
  if (tags.year == 0) tags.year = release_year_of(file);
  tags.album_artist = album_artist_of(file);
  count_covers(file, &tags);

  if (has_audio) {
    // A damaged Xing header (a frame count near 2^32) makes TagLib's figures overflow into
    // negative numbers: those are unknown, not negative.
    tags.bitrate_kbps = std::max(audio->bitrate(), 0);
    tags.sample_rate_hz = std::max(audio->sampleRate(), 0);
    tags.length_ms = std::max(audio->lengthInMilliseconds(), 0);
  }
  return tags;
}

int tag_score(const file_tags& tags) {
  int score = 0;
  for (const std::string* field : {&tags.title, &tags.artist, &tags.album})
    if (!field->empty()) score += 2;
  for (const std::string* field : {&tags.album_artist, &tags.genre})
    if (!field->empty()) score += 1;
  if (tags.year != 0) score += 1;
  if (tags.track != 0) score += 1;
  if (tags.cover_count > 0) score += 2;
  if (tags.id3v2_version == 4) {
    score += 2;
  } else if (tags.id3v2_version == 3) {
    score += 1;
  }
  return score;
}

}  // namespace cleanup
