// The library's diagnostic lines during a run of varnelo-cli. Most are chatter meant for the
// window's console (one "reading id3 title" per entry searched), so they reach standard
// error only with --verbose; the few a user must know become this tool's own messages: a
// database moved aside. What a scan could not take it reports from the walk's own record.
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

 private:
  static ssize_t on_write(void* cookie, const char* bytes, size_t size);
  void on_message(std::string_view message);

  const console& out_;
  bool verbose_;
  FILE* sink_ = nullptr;
  std::string pending_;  // a message not yet ended by a line end
};

#endif  // VARNELO_CLI_LIBRARY_MESSAGES_H_
