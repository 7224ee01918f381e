// The checks a model's parameters must pass.
#pragma once

#include "strellix/strellix.hpp"

namespace strellix {

// The parameters a model can be built with at all: layers, the update's
// half-widths (the weight tables exist only for those), the median's frame
// count, the threads and the numeric mode (with the layers it allows).
// validate() checks these and the threshold and the learning rate too;
// the Strellixplus program takes any threshold and rate it is given. Throws std::invalid_argument as
// validate() does.
void check_model_parameters(const Parameters& parameters);

}  // namespace strellix
