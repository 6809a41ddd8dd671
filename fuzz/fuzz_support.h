// What the fuzz targets share: stopping on a broken expectation, and a scratch file of this
// process that holds the input for the targets that read files.
#ifndef VARNELO_FUZZ_FUZZ_SUPPORT_H_
#define VARNELO_FUZZ_FUZZ_SUPPORT_H_

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace fuzz_support {

// Aborts with what, so that libFuzzer keeps the input.
inline void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "mismatch: %s\n", what);
    abort();
  }
}

// The input cut at its NUL bytes into at most max_parts texts (at least one); the bytes
// after the last cut allowed are left out.
inline std::vector<std::string> split_at_nul(const uint8_t* data, size_t size, size_t max_parts) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      if (parts.size() == max_parts) break;
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  return parts;
}

// Writes the input to this process's scratch file for target (under TMPDIR or /tmp) and
// returns its path, or "" when it cannot be written.
inline std::string write_scratch_file(const char* target, const uint8_t* data, size_t size) {
  const char* dir = getenv("TMPDIR");
  const std::string path = std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") +
                           "/varnelo-fuzz-" + target + "-" + std::to_string(getpid()) + ".mp3";
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  if (size > 0) fwrite(data, 1, size, f);
  fclose(f);
  return path;
}

}  // namespace fuzz_support

#endif  // VARNELO_FUZZ_FUZZ_SUPPORT_H_
