// Phase (2): the calibration stretch, then the online stretch.
#pragma once

#include "driver/run_state.h"

namespace strellix {

// Processes frames ini+1 .. end. Returns 0 when the loop ended normally
// (range done, input ended, ESC), or 5 when a frame that exists could not
// be used (the frame source has reported it). Every output file is on disk
// (or reported as failed) when it returns.
int run_frame_loop(RunState& run);

// True (the default): the next frame is read and converted on one worker
// thread and the mask files are written on another while the loop
// processes the current frame; files, console output and exit codes are
// those of the loop that does everything in line, which tests get by
// setting this to false.
extern bool overlap_frame_io;

}  // namespace strellix
