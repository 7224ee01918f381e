// The console: progress and messages on standard output, and the key wait.
#pragma once

// Writes to standard output and shows it at once (progress items have no
// line feed). A closed or broken standard output never ends the run.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads one key press from the controlling terminal, without echo and
// without waiting for Enter, also when standard input is redirected.
// Returns at once when there is no terminal to read from.
void wait_console_key();

// The same, on a given terminal file descriptor (for tests).
void wait_key_on_terminal(int fd);
