// What a model costs in memory, and whether the machine has it: the one
// rule every front end refuses a run by.
#include <limits>

#include "engine/memory_estimate.h"
#include "strellix/strellix.hpp"

namespace strellix {

std::uint64_t estimate_memory(const Parameters& parameters, int width, int height, bool with_median) {
  validate(parameters);
  return saturated_bytes(
      estimate_memory_bytes(parameters, width > 0 ? width : 0, height > 0 ? height : 0, with_median));
}

std::uint64_t physical_memory() {
  return saturated_bytes(physical_memory_bytes());
}

bool fits_in_memory(double bytes) {
  const double available = physical_memory_bytes();
  return available <= 0.0 || bytes <= available;
}

}  // namespace strellix
