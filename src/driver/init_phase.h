// Phase (1), model initialization, and the preparation of phase (2).
#pragma once

#include "driver/run_state.h"

namespace strellix {

// Builds or loads the initial background, seeds every layer, builds the
// kernels, allocates the remaining buffers, writes the black mask of frame
// ini and sets the calibration rates A and B. Returns 0, or the exit code
// of a failure that has already been reported (1: no initial background).
int run_init_phase(RunState& run);

}  // namespace strellix
