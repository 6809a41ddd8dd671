// The loader of ".mp3db" files. It reads in large blocks and never trusts a count: a count
// or length is accepted only when the rest of the file can hold it, so a short or hostile
// file fails with the message of the read that cannot be completed and reserves nothing.
#include "database/load.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <new>

#include "database/diagnostics.h"
#include "database/format.h"
#include "database/mp3_db.h"
#include "platform/platform.h"

namespace load {
namespace {

constexpr size_t kBlockBytes = 1 << 20;

// Sequential reads of a file of known length through one block buffer. Like fread, a read
// that cannot be completed takes what there is, so position() is then the end of the file.
class block_reader {
 public:
  block_reader(FILE* file, uint64_t size) : file_(file), size_(size) {}

  bool ready() { return block_ != nullptr; }
  uint64_t position() const { return position_; }
  uint64_t remaining() const { return size_ - position_; }

  // Copies up to n bytes to dst, or skips them when dst is null; returns the bytes taken.
  size_t read(void* dst, size_t n) {
    auto* out = static_cast<unsigned char*>(dst);
    size_t done = 0;
    while (done < n) {
      if (next_ == filled_ && !refill()) break;
      size_t take = filled_ - next_;
      if (take > n - done) take = n - done;
      if (out != nullptr) memcpy(out + done, block_.get() + next_, take);
      next_ += take;
      done += take;
    }
    position_ += done;
    return done;
  }

 private:
  bool refill() {
    uint64_t left = size_ - fetched_;
    size_t want = left < kBlockBytes ? static_cast<size_t>(left) : kBlockBytes;
    filled_ = want == 0 ? 0 : fread(block_.get(), 1, want, file_);
    next_ = 0;
    fetched_ += filled_;
    return filled_ > 0;
  }

  FILE* file_;
  uint64_t size_;
  std::unique_ptr<unsigned char[]> block_{new (std::nothrow) unsigned char[kBlockBytes]};
  size_t filled_ = 0;
  size_t next_ = 0;
  uint64_t fetched_ = 0;
  uint64_t position_ = 0;
};

// Reads past a name of namelen > 0 bytes without keeping it; true when it was complete and
// not empty as text.
bool skip_name(block_reader& in, uint32_t namelen) {
  char first = 0;
  return in.read(&first, 1) == 1 && in.read(nullptr, namelen - 1) == namelen - 1 && first != 0;
}

struct free_block {
  void operator()(char* p) const { free(p); }
};

outcome read_records(block_reader& in, uint32_t filenum, tables::loaded* out) {
  // Every record takes at least a head and one name byte. When the rest of the file cannot
  // hold filenum of them the load must fail somewhere; the records are still walked (without
  // keeping them) so that the message is the one of the read that fails.
  uint64_t left = in.remaining();
  bool keep = static_cast<uint64_t>(filenum) * format::kMinRecordBytes <= left;
  std::unique_ptr<char, free_block> names;
  size_t names_size = 0;
  size_t names_used = 0;
  if (keep && filenum > 0) {
    // Names and their terminators fit in what the heads leave; pages beyond the names
    // actually read (bytes after the last record) are never touched.
    names_size = static_cast<size_t>(left - uint64_t{filenum} * (format::kRecordHeadBytes - 1));
    names.reset(static_cast<char*>(malloc(names_size)));
    if (names == nullptr) return outcome::out_of_memory;
    out->files.reserve(filenum);
  }
  for (uint32_t i = 0; i < filenum; ++i) {
    unsigned char head[format::kRecordHeadBytes];
    if (in.read(head, sizeof head) < sizeof head) {
      db_print("warning reading file entries\n");
      return outcome::invalid;
    }
    uint32_t namelen = format::get_u32(head + format::kNamelenOffset);
    bool complete = false;
    if (namelen != 0) {
      if (!keep) {
        complete = skip_name(in, namelen);
      } else if (namelen < names_size - names_used) {
        char* name = names.get() + names_used;
        // A name that starts with a zero byte is empty as text and would be saved with
        // namelen 0, which no load accepts: refuse it like namelen 0.
        complete = in.read(name, namelen) == namelen && name[0] != 0;
        name[namelen] = 0;
        names_used += size_t{namelen} + 1;
        out->files.push_back(
            fileentry{static_cast<int32_t>(format::get_u32(head + format::kHashidOffset)),
                      format::get_u32(head + format::kFilesizeOffset), name});
      } else {
        // The file holds this name but not the records after it, so a later read fails;
        // walk on to report that one.
        complete = skip_name(in, namelen);
        keep = false;
      }
    }
    if (!complete) {
      db_print("error:[%d]%u\n", static_cast<int32_t>(filenum),
               static_cast<unsigned>(in.position()));
      return outcome::invalid;
    }
  }
  if (!keep) {  // unreachable: filenum records cannot fit, so a read above failed
    db_print("warning reading file entries\n");
    return outcome::invalid;
  }
  out->names = names.release();
  out->names_size = names_size;
  return outcome::loaded;
}

}  // namespace

outcome read_database(FILE* file, tables::loaded* out) {
  struct stat st;
  uint64_t size =
      fstat(fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  block_reader in(file, size);
  if (!in.ready()) return outcome::out_of_memory;

  unsigned char header[format::kHeaderBytes];
  if (in.read(header, sizeof header) < sizeof header) {
    db_print("warning reading header\n");
    return outcome::invalid;
  }
  if (format::get_u32(header + format::kMagicOffset) != format::kMagic) {
    db_print("error not a valid magic found.\n");
    return outcome::invalid;
  }
  uint32_t hashnum = format::get_u32(header + format::kHashnumOffset);
  uint32_t filenum = format::get_u32(header + format::kFilenumOffset);

  uint64_t digest_bytes = uint64_t{hashnum} * format::kDigestBytes;
  if (digest_bytes > in.remaining()) {
    db_print("warning reading hashes\n");
    return outcome::invalid;
  }
  out->hashes.resize(hashnum);
  if (in.read(out->hashes.data(), digest_bytes) < digest_bytes) {
    db_print("warning reading hashes\n");
    return outcome::invalid;
  }
  return read_records(in, filenum, out);
}

}  // namespace load

int file_readheader(const char* name, uint32_t* hashnum, uint32_t* filenum, uint32_t* stamp) {
  if (name == nullptr) return 0;
  platform::unique_file file = platform::open_regular(name);
  unsigned char header[format::kHeaderBytes];
  if (!file || fread(header, 1, sizeof header, file.get()) != sizeof header ||
      format::get_u32(header + format::kMagicOffset) != format::kMagic)
    return 0;
  if (hashnum != nullptr) *hashnum = format::get_u32(header + format::kHashnumOffset);
  if (filenum != nullptr) *filenum = format::get_u32(header + format::kFilenumOffset);
  if (stamp != nullptr) *stamp = format::get_u32(header + format::kStampOffset);
  return 1;
}
