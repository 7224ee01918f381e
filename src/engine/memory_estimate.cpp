#include "engine/memory_estimate.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/worker_pool.h"

namespace strellix {

namespace {

// What one heap block of `bytes` really takes: the allocator's header and
// rounding, and a minimum block. Counts for the model's many small planes
// (the layers may be many while the frame is one pixel).
double heap_block_bytes(double bytes) {
  const double rounded = std::ceil((bytes + 8.0) / 16.0) * 16.0;
  return rounded < 32.0 ? 32.0 : rounded;
}

// The median's store keeps every frame, in tiles of 64 pixels.
double median_bytes(double pixels, bool with_median, int median_frames) {
  const double tiled_pixels = std::ceil(pixels / 64.0) * 64.0;
  return with_median ? 3.0 * tiled_pixels * static_cast<double>(median_frames) + 9.0 * pixels : 0.0;
}

// The fast numerics: 16-bit layers in rows padded to 16 columns; the
// labels, matched layers, the filter's search mask, the last frame, the
// mask and a rendering (11 bytes a pixel); and per band of rows (one a
// thread, a band at least 8 rows) a ring of 2 width_2d + 3 padded rows of
// the frame in floats, its 16-bit copies, labels and taught layers (26
// bytes a column), the filtered rows just outside it and scratch.
double fast_memory_bytes(const Parameters& p, double width, double height, bool with_median) {
  const double stride = std::ceil(width / 16.0) * 16.0;
  const double pixels = width * height;
  const double threads = p.threads > 0 ? p.threads : core_count();
  const double bands = std::max(1.0, std::min(threads, std::floor(height / 8.0)));
  const double band_bytes =
      (2.0 * p.width_2d + 3.0) * 26.0 * (stride + 32.0) + (2.0 * p.width_2d + 1.0) * width;
  return 6.0 * static_cast<double>(p.layers) * stride * height + 11.0 * pixels + bands * band_bytes +
         median_bytes(pixels, with_median, p.median_frames);
}

}  // namespace

double estimate_memory_bytes(int layers, std::size_t pixel_count, bool with_median, int median_frames) {
  const double pixels = static_cast<double>(pixel_count);
  // Per layer: its entry in the layer array, the plane array, three planes.
  const double layer_bytes = 8.0 + heap_block_bytes(24.0) + 3.0 * heap_block_bytes(4.0 * pixels);
  // frame_planes, render_planes (12 bytes a pixel each), render_rgb_planes,
  // match_index, seg_mask, filtered_mask, search_mask and mask_image.
  const double run_bytes = 35.0 * pixels;
  return static_cast<double>(layers) * layer_bytes + run_bytes +
         median_bytes(pixels, with_median, median_frames);
}

double estimate_memory_bytes(const Parameters& p, double width, double height, bool with_median) {
  if (p.numerics == Numerics::fast) return fast_memory_bytes(p, width, height, with_median);
  return estimate_memory_bytes(p.layers, static_cast<std::size_t>(width * height), with_median,
                               p.median_frames);
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
