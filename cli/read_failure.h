// Why a file could not be read, in words, from the errno value the library gave for it.
#ifndef VARNELO_CLI_READ_FAILURE_H_
#define VARNELO_CLI_READ_FAILURE_H_

#include <string>

// "not a regular file" for EINVAL, "larger than 2 GiB" for EFBIG, else the system's text.
std::string read_failure(int error_number);

#endif  // VARNELO_CLI_READ_FAILURE_H_
