// Phase (1), model initialization, and the preparation of phase (2).
#pragma once

#include "driver/run_state.h"

namespace strellix {

// Builds or loads the initial background, seeds the model with it, hands
// it frame ini and writes that frame's black mask. Returns 0, or the exit
// code of a failure that has already been reported (1: no initial
// background).
int run_init_phase(RunState& run);

}  // namespace strellix
