// What a model of a given size costs in memory, worked out before anything
// is allocated, so that a model that cannot fit is refused up front.
#pragma once

#include <cstddef>
#include <cstdint>

#include "strellix/strellix.hpp"

namespace strellix {

// Bytes for `layers` layers over pixel_count pixels with every buffer of a
// run, and with_median the temporal median's frame store of median_frames
// frames. In double: layers and frames may be any int, far beyond what
// size_t products hold.
double estimate_memory_bytes(int layers, std::size_t pixel_count, bool with_median, int median_frames);

// The same for a model of these parameters, in either numeric mode, over
// width x height pixels (any counts: the product is taken in double).
double estimate_memory_bytes(const Parameters& parameters, double width, double height, bool with_median);

// The machine's memory in bytes, 0 when unknown.
double physical_memory_bytes();

// A count of bytes as a 64-bit number, the largest one for any beyond it.
std::uint64_t saturated_bytes(double bytes);

}  // namespace strellix
