// Ctrl-C (SIGINT) and SIGTERM as a request to stop: long commands finish the step under
// way, then save what they did, like the window's abort button.
#ifndef VARNELO_CLI_INTERRUPT_H_
#define VARNELO_CLI_INTERRUPT_H_

// Installs the handlers for a command that changes the database. A second signal of the
// same kind ends the program at once. A closed output pipe (prune | head) no longer ends
// the program either, so that what was done is still saved.
void catch_interrupts();
// True once a stop was requested.
bool interrupted();

#endif  // VARNELO_CLI_INTERRUPT_H_
