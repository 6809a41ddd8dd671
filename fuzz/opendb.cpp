// Loads arbitrary bytes as a database file; whatever loads must save and load back to the
// same tables.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database/mp3_db.h"

namespace {

struct snapshot {
  std::vector<std::string> digests;
  std::vector<std::string> files;  // hashid, size and path of each entry, in table order
};

snapshot take_snapshot() {
  snapshot s;
  for (uint32_t i = 0; i < file_gethashnum(); ++i)
    s.digests.emplace_back(reinterpret_cast<const char*>(db_gethashentry(i)), 16);
  for (uint32_t i = 0; i < file_getfilenum(); ++i) {
    const fileentry* e = db_getfileentry(i);
    s.files.push_back(std::to_string(e->hashid) + "/" + std::to_string(e->filesize) + "/" +
                      e->filename);
  }
  return s;
}

const std::string& database_path() {
  static const std::string path = [] {
    // A memory file system keeps the fsync of every save cheap.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = base + "/varnelo-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) abort();
    return dir + "/fuzz.mp3db";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* quiet = fopen("/dev/null", "w");
  mp3db_set_diagnostics(quiet);
  const std::string& path = database_path();
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
  file_setdb(path.c_str());
  if (file_opendb() != 1) return 0;

  snapshot first = take_snapshot();
  for (size_t i = 0; i < first.files.size(); ++i) {
    // Every lookup answers as a scan from index 0 would.
    const fileentry* e = db_getfileentry(static_cast<uint32_t>(i));
    int32_t by_name = get_fileentrybyfilename(e->filename);
    if (by_name < 0 || static_cast<size_t>(by_name) > i ||
        strcmp(db_getfileentry(by_name)->filename, e->filename) != 0)
      abort();
  }
  for (uint32_t h = 0; h < file_gethashnum(); ++h) {
    int32_t found = get_hashentry(db_gethashentry(h));
    if (found < 0 || static_cast<uint32_t>(found) > h) abort();
  }
  if (file_closedb() != 1) abort();
  if (file_opendb() != 1) abort();
  snapshot second = take_snapshot();
  if (first.digests != second.digests || first.files != second.files) abort();
  return 0;
}
