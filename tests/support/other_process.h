// A second program on the library for tests: a process forked from the test that takes,
// holds and drops the lock of a database and saves to it on command, as another run of a
// program would. It shares nothing with the test but what the kernel shares between
// processes (files and their locks).
#ifndef VARNELO_TESTS_SUPPORT_OTHER_PROCESS_H_
#define VARNELO_TESTS_SUPPORT_OTHER_PROCESS_H_

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "database/mp3_db.h"

namespace testing_support {

class other_process {
 public:
  other_process() {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) abort();
    fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) abort();
    if (pid_ == 0) {
      // Nothing inherited but the two pipe ends: a lock the test holds stays the test's, and
      // forgetting it touches no file once its descriptor is closed.
      if (dup2(down[0], kIn) < 0 || dup2(up[1], kOut) < 0) _exit(2);
      for (int fd = 3; fd < kIn; ++fd) close(fd);
      file_unlockdb();
      FILE* quiet = fopen("/dev/null", "w");
      mp3db_set_diagnostics(quiet);
      serve();
      _exit(0);
    }
    close(down[0]);
    close(up[1]);
    to_child_ = down[1];
    from_child_ = up[0];
  }
  ~other_process() {
    close(to_child_);
    close(from_child_);
    if (pid_ > 0) kill_hard();
  }
  other_process(const other_process&) = delete;
  other_process& operator=(const other_process&) = delete;

  pid_t pid() const { return pid_; }
  // file_lockdb's result in the other process.
  int lock(const std::string& name, const std::string& program) {
    return std::stoi(ask("lock\t" + name + "\t" + program));
  }
  void unlock() { ask("unlock"); }
  // "PID PROGRAM" of the holder its last refused lock named.
  std::string holder() { return ask("holder"); }
  // Loads database name, adds the file at path and saves: 1 when saved.
  int add_and_save(const std::string& name, const std::string& path) {
    return std::stoi(ask("save\t" + name + "\t" + path));
  }
  // Becomes another user for what follows: 1 when it did.
  int become(int uid) { return std::stoi(ask("user\t" + std::to_string(uid))); }
  // Ends it as a crash would, without a word.
  void kill_hard() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  static constexpr int kIn = 1000;
  static constexpr int kOut = 1001;

  std::string ask(const std::string& command) {
    std::string line = command + "\n";
    if (write(to_child_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return "-9";
    std::string answer;
    char c;
    while (read(from_child_, &c, 1) == 1 && c != '\n') answer += c;
    return answer.empty() ? "-9" : answer;
  }

  static std::string field(const std::string& line, int n) {
    size_t start = 0;
    for (int i = 0; i < n; ++i) start = line.find('\t', start) + 1;
    size_t end = line.find('\t', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }

  static void serve() {
    std::string line;
    char c;
    while (read(kIn, &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      std::string command = field(line, 0), answer = "1";
      if (command == "lock") {
        answer = std::to_string(file_lockdb(field(line, 1).c_str(), field(line, 2).c_str()));
      } else if (command == "unlock") {
        file_unlockdb();
      } else if (command == "holder") {
        const char* program = nullptr;
        int32_t pid = file_lockholder(&program);
        answer = std::to_string(pid) + " " + program;
      } else if (command == "save") {
        file_setdb(field(line, 1).c_str());
        file_opendb();
        file_add(field(line, 2).c_str());
        answer = std::to_string(file_closedb());
      } else if (command == "user") {
        int uid = std::stoi(field(line, 1));
        answer = setgid(uid) == 0 && setuid(uid) == 0 ? "1" : "0";
      }
      answer += "\n";
      if (write(kOut, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) return;
      line.clear();
    }
  }

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
};

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_OTHER_PROCESS_H_
