// Ctrl-C (SIGINT) and SIGTERM as a request to stop: long commands finish the step under
// way, then save what they did, like the window's abort button.
#ifndef VARNELO_CLI_INTERRUPT_H_
#define VARNELO_CLI_INTERRUPT_H_

// Installs the handlers. A second signal of the same kind ends the program at once.
void catch_interrupts();
// True once a stop was requested.
bool interrupted();

#endif  // VARNELO_CLI_INTERRUPT_H_
