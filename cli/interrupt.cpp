// The stop request set by the signal handlers.
#include "cli/interrupt.h"

#include <signal.h>

#include <atomic>

#include "database/mp3_db.h"

namespace {

// Read by the scan's threads as well as the main one; a signal handler may only store to a
// lock-free atomic.
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_stop_signal(int) {
  g_stop_requested.store(true);
  // A folder walk under way stops before its next entry, descent or file.
  mp3db_request_stop();
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second Ctrl-C gets the default action, for a user who really wants out.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return g_stop_requested.load(); }
