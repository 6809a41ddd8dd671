// Ctrl-C (SIGINT) and SIGTERM as a request to stop: a folder scan stops at once, other long
// commands after the step under way; what was done is then saved.
#ifndef VARNELO_CLI_INTERRUPT_H_
#define VARNELO_CLI_INTERRUPT_H_

// Installs the handlers for a command that changes the database. A second signal of the
// same kind ends the program at once. A closed output pipe (prune | head) no longer ends
// the program either, so that what was done is still saved.
void catch_interrupts();
// True once a stop was requested.
bool interrupted();

#endif  // VARNELO_CLI_INTERRUPT_H_
