// The library's diagnostic lines, collected in a temporary file while the object lives so
// that tests can compare them.
#ifndef VARNELO_TESTS_SUPPORT_CAPTURED_DIAGNOSTICS_H_
#define VARNELO_TESTS_SUPPORT_CAPTURED_DIAGNOSTICS_H_

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "database/mp3_db.h"

namespace testing_support {

class captured_diagnostics {
 public:
  captured_diagnostics() : file_(tmpfile()) {
    if (file_ == nullptr) ADD_FAILURE() << "cannot make a file for the diagnostics";
    mp3db_set_diagnostics(file_);
  }
  ~captured_diagnostics() {
    mp3db_set_diagnostics(nullptr);
    if (file_ != nullptr) fclose(file_);
  }
  captured_diagnostics(const captured_diagnostics&) = delete;
  captured_diagnostics& operator=(const captured_diagnostics&) = delete;

  // Every line printed since the start or the last take().
  std::string text() {
    std::string out;
    if (file_ == nullptr) return out;
    rewind(file_);  // flushes first; reading to the end leaves the place for the next line
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }
  // text(), which is then forgotten.
  std::string take() {
    std::string out = text();
    if (file_ == nullptr) return out;
    rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) ADD_FAILURE() << "cannot empty the diagnostics";
    return out;
  }

 private:
  FILE* file_;
};

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_CAPTURED_DIAGNOSTICS_H_
