// Ending a run on SIGINT, SIGTERM, SIGHUP or SIGQUIT. The first such signal
// asks the run to stop after the frame in hand, so that the videos are
// closed and run.json tells how far it got; a second one ends the process
// at once, removing the temporary files being written.
#pragma once

#include <string>

namespace strellix::cli {

// Call once at start-up. Also sets up the removal of the temporary files of
// atomic writes (io/atomic_file.h). Signals the user chose to ignore (nohup)
// stay ignored.
void install_interrupt_handling();

// The signal that asked the run to stop, 0 when none has.
int stop_signal();

// A file that only becomes an output once it is complete (a video under a
// temporary name): removed if the process is ended by a signal meanwhile.
// remember_temporary returns a slot (-1 when none is free or the path is too
// long), which forget_temporary frees again.
int remember_temporary(const std::string& path);
void forget_temporary(int slot);

// Ends the process by `signal` with its default action, so that the caller
// sees how it ended.
[[noreturn]] void end_by_signal(int signal);

}  // namespace strellix::cli
