// The stop request set by the signal handlers.
#include "cli/interrupt.h"

#include <signal.h>

namespace {

// The one thing a signal handler may safely touch.
volatile sig_atomic_t g_stop_requested = 0;

void on_stop_signal(int) { g_stop_requested = 1; }

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second Ctrl-C gets the default action, for a user who really wants out.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool interrupted() { return g_stop_requested != 0; }
