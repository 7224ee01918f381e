#include "engine/memory_estimate.h"

#include <unistd.h>

#include <cmath>
#include <limits>

namespace strellix {

namespace {

// What one heap block of `bytes` really takes: the allocator's header and
// rounding, and a minimum block. Counts for the model's many small planes
// (the layers may be many while the frame is one pixel).
double heap_block_bytes(double bytes) {
  const double rounded = std::ceil((bytes + 8.0) / 16.0) * 16.0;
  return rounded < 32.0 ? 32.0 : rounded;
}

}  // namespace

double estimate_memory_bytes(int layers, std::size_t pixel_count, bool with_median, int median_frames) {
  const double pixels = static_cast<double>(pixel_count);
  // Per layer: its entry in the layer array, the plane array, three planes.
  const double layer_bytes = 8.0 + heap_block_bytes(24.0) + 3.0 * heap_block_bytes(4.0 * pixels);
  // frame_planes, render_planes (12 bytes a pixel each), render_rgb_planes,
  // match_index, seg_mask, filtered_mask, search_mask and mask_image.
  const double run_bytes = 35.0 * pixels;
  // The median's store keeps every frame, in tiles of 64 pixels.
  const double tiled_pixels = std::ceil(pixels / 64.0) * 64.0;
  const double median_bytes =
      with_median ? 3.0 * tiled_pixels * static_cast<double>(median_frames) + 9.0 * pixels : 0.0;
  return static_cast<double>(layers) * layer_bytes + run_bytes + median_bytes;
}

double physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(page_size);
}

std::uint64_t saturated_bytes(double bytes) {
  const double most = static_cast<double>(std::numeric_limits<std::uint64_t>::max());
  if (!(bytes > 0.0)) return 0;
  return bytes >= most ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(bytes);
}

}  // namespace strellix
