// How a `strellix` command ends: its exit codes, and the exception that
// carries a failure with its code up to main().
#pragma once

#include <stdexcept>
#include <string>

namespace strellix::cli {

// Where Strellixplus has the same case, the same number.
enum ExitCode : int {
  EXIT_DONE = 0,
  EXIT_NO_INPUT = 1,   // the input cannot be opened, has no frame, or a frame of the median is unusable
  EXIT_USAGE = 2,      // the command line asks for something that cannot be done; nothing was read or written
  EXIT_OUTPUT = 3,     // an output file could not be written: the run stopped there
  EXIT_MEMORY = 4,     // not enough memory for the model or the median
  EXIT_BAD_FRAME = 5,  // a frame exists but cannot be used; the outputs before it are complete
  EXIT_UNEXPECTED = 6,  // an unexpected failure inside a library
  EXIT_INCOMPLETE = 7,  // the input ended early (damaged, cut off, timed out); what it gave is complete
};

// Thrown to end the command with `code`; main() prints the message (none
// when it is empty: the failure was already reported where it happened).
class CommandFailure : public std::runtime_error {
 public:
  CommandFailure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// Shorthands for the two most common ends.
inline CommandFailure usage_error(const std::string& message) {
  return CommandFailure(EXIT_USAGE, message);
}
inline CommandFailure input_error(const std::string& message) {
  return CommandFailure(EXIT_NO_INPUT, message);
}

}  // namespace strellix::cli
