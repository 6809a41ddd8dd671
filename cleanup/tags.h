// The tags of one MP3 file and its stream's properties, read on demand, and the
// completeness score by which the best-tagged copy of a group is kept.
#ifndef VARNELO_CLEANUP_TAGS_H_
#define VARNELO_CLEANUP_TAGS_H_

#include <stdint.h>

#include <string>

namespace cleanup {

// What a file carries. A file that cannot be read (gone, not a regular file, neither a tag
// nor an audio frame found) gives the empty record: readable false, every field empty or 0.
struct file_tags {
  bool readable = false;

  // Which tags the file holds.
  bool id3v2 = false;
  // The major version of the ID3v2 tag (2, 3 or 4; a damaged tag may say any other); 0 without.
  int id3v2_version = 0;
  bool id3v1 = false;
  bool ape = false;

  // The fields, UTF-8, from the first tag that has each: ID3v2, then APEv2, then ID3v1.
  std::string title, artist, album, album_artist, genre;
  // 0 when absent; the year recorded, or else released (the taggers write either).
  unsigned year = 0, track = 0;
  unsigned cover_count = 0;  // attached pictures (ID3v2) and cover art items (APEv2)
  uint64_t cover_bytes = 0;  // their picture data, in bytes

  // The audio stream, from its first frame and a Xing/VBRI header where there is one (the
  // bitrate is then the average over the whole stream, its header frame included); 0 for a
  // figure that cannot be worked out.
  int bitrate_kbps = 0;
  int sample_rate_hz = 0;
  int length_ms = 0;
};

// Reads the tags and stream properties of the file at path. Only a regular file is opened
// (a FIFO never blocks the call); anything it cannot read gives the empty record.
file_tags read_tags(const char* path);

// The completeness score of best-tags, higher is better (0 to 14):
//   title, artist, album present       2 points each
//   album artist, year, track, genre   1 point each
//   cover art (at least one picture)   2 points
//   ID3v2.4 tag 2 points, ID3v2.3 tag 1 point (older tags hold short or fewer fields)
// A field counts when it is not empty (year and track: not 0), whichever tag holds it.
int tag_score(const file_tags& tags);

}  // namespace cleanup

#endif  // VARNELO_CLEANUP_TAGS_H_
