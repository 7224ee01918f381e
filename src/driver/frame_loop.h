// Phase (2): the calibration stretch, then the online stretch.
#pragma once

#include "driver/run_state.h"

// Processes frames ini+1 .. end. Returns 0 when the loop ended normally
// (range done, input ended, ESC), or 5 when a frame that exists could not
// be used (the frame source has reported it).
int run_frame_loop(RunState& run);
