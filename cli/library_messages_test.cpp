// The library's lines as varnelo-cli tells them: its chatter only with --verbose, a database
// moved aside as a warning of the tool's own, named exactly.
#include "cli/library_messages.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "database/mp3_db.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

// Standard error goes to a file while one of these lives.
class captured_stderr {
 public:
  captured_stderr() : file_(tmpfile()), saved_(dup(STDERR_FILENO)) {
    fflush(stderr);
    dup2(fileno(file_), STDERR_FILENO);
  }
  ~captured_stderr() {
    restore();
    fclose(file_);
  }
  std::string text() {
    restore();
    std::string all;
    rewind(file_);
    char chunk[512];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file_)) > 0;) all.append(chunk, n);
    return all;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  FILE* file_;
  int saved_;
};

TEST(LibraryMessages, ChatterReachesStandardErrorOnlyWhenVerbose) {
  console out(false);
  for (bool verbose : {false, true}) {
    captured_stderr err;
    {
      library_messages messages(out, verbose);
      get_fileentriesbyname("two words");
      while (get_fileentriesbyname(nullptr) != -1) {
      }
    }
    EXPECT_EQ(err.text(), verbose ? "token[0]:two\ntoken[1]:words\n2 search tokens found!\n" : "")
        << verbose;
  }
}

TEST(LibraryMessages, DatabaseMovedAsideIsToldWithBothNames) {
  // A folder name holding the words that join the two names in the library's line.
  TempDir dir;
  std::string folder = dir.file("a moved to b");
  testing_support::make_dirs(folder);
  std::string db = folder + "/music.mp3db";
  testing_support::write_file(db, std::string(40, 'Z'));
  console out(false);
  captured_stderr err;
  {
    library_messages messages(out, false);
    file_setdb(db.c_str());
    EXPECT_EQ(file_opendb(), 0);
    EXPECT_EQ(file_closedb(), 1);
  }
  EXPECT_EQ(err.text(), "varnelo-cli: warning: unreadable database " + db + " moved to " + db +
                            ".unreadable\n");
  EXPECT_EQ(access((db + ".unreadable").c_str(), F_OK), 0);
  file_unloaddb();
}

}  // namespace
