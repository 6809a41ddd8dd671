// Layout of the ".mp3db" file, as described in database/format.md: a 16-byte header,
// the digests, then the file records, every integer 32-bit little-endian.
#ifndef VARNELO_DATABASE_FORMAT_H_
#define VARNELO_DATABASE_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

namespace format {

constexpr uint32_t kMagic = 0x05DE8638;  // bytes 38 86 DE 05
constexpr size_t kHeaderBytes = 16;
constexpr size_t kMagicOffset = 0;
constexpr size_t kHashnumOffset = 4;
constexpr size_t kFilenumOffset = 8;
constexpr size_t kStampOffset = 12;
constexpr uint32_t kStampCreated = 100;  // written by file_createdb
constexpr uint32_t kStampClosed = 99;    // written by file_closedb; a load ignores the stamp

constexpr size_t kDigestBytes = 16;

constexpr size_t kRecordHeadBytes = 12;  // hashid, filesize, namelen
constexpr size_t kHashidOffset = 0;
constexpr size_t kFilesizeOffset = 4;
constexpr size_t kNamelenOffset = 8;
// The smallest record a load accepts: a head and a name of one byte.
constexpr size_t kMinRecordBytes = kRecordHeadBytes + 1;

inline uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void put_u32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace format

#endif  // VARNELO_DATABASE_FORMAT_H_
