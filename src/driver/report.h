// The table of the run's parameters, printed when the frame loop ends.
#pragma once

#include "driver/run_state.h"

namespace strellix {

// "N. of images" is the requested range end - ini + 1, whether or not every
// frame was processed.
void print_report(const RunSettings& s, int W, int H);

}  // namespace strellix
