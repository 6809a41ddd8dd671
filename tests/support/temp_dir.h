// A fresh temporary folder per test, removed with everything in it afterwards.
#ifndef VARNELO_TESTS_SUPPORT_TEMP_DIR_H_
#define VARNELO_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>
#include <vector>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Writes bytes to path (creating or truncating it); fails the test on error.
void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
void write_file(const std::string& path, const std::string& bytes);
std::vector<unsigned char> read_file(const std::string& path);
// Creates a folder and any missing parents.
void make_dirs(const std::string& path);

// Points HOME and XDG_DATA_HOME of this process at a temporary folder of its own, removed at
// exit, so that whatever a test moves to the desktop's trash lands there and never in
// anyone's own trash. Must run before the trash is first used in the process (GIO reads the
// variables once); later calls change nothing. Returns the home trash folder.
const std::string& use_own_trash();

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_TEMP_DIR_H_
