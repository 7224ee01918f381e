// Frame conversion into the model space for the per-frame loop: the same
// floats as frame_to_model, bit for bit, at a fraction of the cost, by
// remembering every colour converted in a table the whole process shares
// (the one piece of state the library keeps beyond its objects: it only
// ever holds results of a pure function).
#pragma once

#include <opencv2/core.hpp>

#include "core/plane_set.h"
#include "core/settings.h"

namespace strellix {

// frame_to_model's results, on the threads of the settings' execution.
void frame_to_model_cached(const ModelSettings& s, const cv::Mat& image, PlaneSet<float> planes);

// The same on the calling thread alone, for a thread that must not wait
// for the passes on the worker threads.
void frame_to_model_cached_on_caller(const ModelSettings& s, const cv::Mat& image, PlaneSet<float> planes);

// Where the conversion keeps a colour it has converted: a block of
// neighbouring colours (allocated when one of them first appears) and an
// entry of ENTRY_BYTES bytes in it. For the benchmark's statistics.
struct ColourCacheSlot {
  std::size_t block;
  std::size_t entry;
};
constexpr std::size_t COLOUR_CACHE_ENTRY_BYTES = 8;
constexpr std::size_t COLOUR_CACHE_BLOCK_BYTES = COLOUR_CACHE_ENTRY_BYTES << 12;
inline ColourCacheSlot colour_cache_slot(unsigned red, unsigned green, unsigned blue) {
  return {((red >> 4) << 8) | ((green >> 4) << 4) | (blue >> 4),
          ((red & 15u) << 8) | ((green & 15u) << 4) | (blue & 15u)};
}

// Cone coordinates x, y of one colour, as frame_to_model computes them
// (the third coordinate is the value, the largest channel over 255).
void colour_to_cone_xy(int red, int green, int blue, float& x, float& y);

}  // namespace strellix
