// What another process writes: a shell command's standard output, and the report of a
// function run in a forked child (which may change limits, users and mounts at will).
#ifndef VARNELO_TESTS_SUPPORT_PROCESS_OUTPUT_H_
#define VARNELO_TESTS_SUPPORT_PROCESS_OUTPUT_H_

#include <stdio.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace testing_support {

// Everything that can be read from fd until its end.
inline std::string read_to_end(int fd) {
  std::string out;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
  return out;
}

// The standard output of a shell command (empty when it cannot be run).
inline std::string command_output(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "";
  std::string out = read_to_end(fileno(p));
  pclose(p);
  return out;
}

struct child_report {
  std::string text;  // what the child's function returned
  int status = -1;   // as waitpid gives it; -1 when no child could be started
  bool clean() const { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// Runs body in a forked child and gives what it returned and how the child ended; a child
// that cannot hand its whole text back exits 1.
inline child_report run_in_child(const std::function<std::string()>& body) {
  child_report report;
  int channel[2];
  if (pipe(channel) != 0) return report;
  fflush(nullptr);  // nothing buffered is written twice
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const std::string text = body();
    _exit(write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(channel[1]);
  if (child > 0) report.text = read_to_end(channel[0]);
  close(channel[0]);
  if (child > 0 && waitpid(child, &report.status, 0) != child) report.status = -1;
  return report;
}

}  // namespace testing_support

#endif  // VARNELO_TESTS_SUPPORT_PROCESS_OUTPUT_H_
