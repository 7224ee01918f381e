// The ranges a model's parameters must keep.
#include <stdexcept>
#include <string>

#include "strellix/strellix.hpp"

namespace strellix {

namespace {

// More threads than any machine has cores would only cost memory.
constexpr int MAX_THREADS = 1024;

void require(bool ok, const std::string& name, const std::string& range, int got) {
  if (!ok)
    throw std::invalid_argument("strellix: " + name + " must be " + range + " (got " + std::to_string(got) +
                                ")");
}

}  // namespace

void validate(const Parameters& p) {
  require(p.layers >= 1, "layers", "at least 1", p.layers);
  // The weight tables exist only for these half-widths.
  require(p.width_1d >= 0 && p.width_1d <= 3, "width_1d", "between 0 and 3", p.width_1d);
  require(p.width_2d >= 0 && p.width_2d <= 4, "width_2d", "between 0 and 4", p.width_2d);
  require(p.median_frames >= 1, "median_frames", "at least 1", p.median_frames);
  require(p.threads >= 0 && p.threads <= MAX_THREADS, "threads",
          "between 0 (one per core) and " + std::to_string(MAX_THREADS), p.threads);
}

}  // namespace strellix
