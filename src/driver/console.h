// The console: progress and messages on standard output, and the key wait.
#pragma once

namespace strellix {

// Call once at start-up, before anything is printed or opened. Keeps a
// closed or broken standard output from ending the run: a write to a pipe
// whose reader has gone fails quietly instead of killing the process, and a
// closed standard stream is pointed at /dev/null so that no file opened
// later takes its descriptor and receives console text.
void console_init();

// Writes to standard output and shows it at once (progress items have no
// line feed). A closed or broken standard output never ends the run.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads one key press from the controlling terminal, without echo and
// without waiting for Enter, also when standard input is redirected.
// Returns at once when there is no terminal to read from, when the process
// runs as a background job of that terminal, and when standard output goes
// to a file or nowhere (the prompt could not be seen).
void wait_console_key();

// The same, on a given terminal file descriptor (for tests). Returns at
// once when fd is not a terminal.
void wait_key_on_terminal(int fd);

}  // namespace strellix
