// The reasons a file could not be read.
#include "cli/read_failure.h"

#include <errno.h>

#include "cli/console.h"

std::string read_failure(int error_number) {
  if (error_number == EINVAL) return "not a regular file";
  if (error_number == EFBIG) return "larger than 2 GiB";
  return reason_of(error_number);
}
