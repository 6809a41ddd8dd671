// The library's diagnostic lines during a run of varnelo-cli. Most are chatter meant for the
// window's console (one "reading id3 title" per entry searched), so they reach standard
// error only with --verbose; the few a user must know become this tool's own messages: a
// database moved aside at once, files the library could not open when the command asks.
#ifndef VARNELO_CLI_LIBRARY_MESSAGES_H_
#define VARNELO_CLI_LIBRARY_MESSAGES_H_

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"

class library_messages {
 public:
  // Becomes the library's diagnostic sink until destroyed. With verbose, every line also
  // goes to standard error as the library wrote it (on a terminal with control characters
  // in it shown as '?').
  library_messages(const console& out, bool verbose);
  // Gives the library its default sink back.
  ~library_messages();
  library_messages(const library_messages&) = delete;
  library_messages& operator=(const library_messages&) = delete;

  // Warns of the files the library could not open since the last call (a scan's FIFOs,
  // unreadable files, links to nowhere): the first few by name with the reason, then how
  // many more. what names the command ("scan").
  void report_unopened(const char* what);

 private:
  static ssize_t on_write(void* cookie, const char* bytes, size_t size);
  void on_message(std::string_view message);

  const console& out_;
  bool verbose_;
  FILE* sink_ = nullptr;
  std::string pending_;                // a message not yet ended by a line end
  std::vector<std::string> unopened_;  // the first few files that could not be opened
  uint64_t unopened_count_ = 0;
};

#endif  // VARNELO_CLI_LIBRARY_MESSAGES_H_
