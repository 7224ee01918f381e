#include "driver/run_setup.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/switches.h"
#include "model/model_store.h"
#include "model/settings.h"

namespace strellix {

RunSettings read_run_settings(int& argc, char** argv) {
  RunSettings s;
  s.ini = Lread_iswitch(argc, argv, "-ini", 1);
  s.end = Lread_iswitch(argc, argv, "-end", 2);
  s.n = Lread_iswitch(argc, argv, "-n", 5);
  s.w1d = Lread_iswitch(argc, argv, "-w1d", 1);
  s.w2d = Lread_iswitch(argc, argv, "-w2d", 1);
  s.e = static_cast<float>(Lread_dswitch(argc, argv, "-e", 0.005));
  s.F = Lread_iswitch(argc, argv, "-F", 100);
  s.lr = static_cast<float>(Lread_dswitch(argc, argv, "-lr", 0.05));
  s.SmaskMOD = Lread_iswitch(argc, argv, "-SmaskMOD", 1);
  s.SmodBG = read_flag_switch(argc, argv, "-SmodBG");
  s.video = read_flag_switch(argc, argv, "-f");
  s.ShowMask = Lread_iswitch(argc, argv, "-ShowMask", 0);
  s.skip = Lread_iswitch(argc, argv, "-skip", 1);
  s.Boot = Lread_iswitch(argc, argv, "-Boot", 0);
  // The range checks below keep w1d and w2d small before they are used.
  s.width_1d = (s.w1d >= 0 && s.w1d <= 3) ? 2 * s.w1d + 1 : 0;
  s.width_2d = (s.w2d >= 0 && s.w2d <= 4) ? 2 * s.w2d + 1 : 0;
  return s;
}

bool settings_refused(const RunSettings& s) {
  if (s.n < 1) {
    std::fprintf(stderr, "Strellixplus: -n must be at least 1 (got %d)\n", s.n);
    return true;
  }
  // The weight tables exist only for these half-widths.
  if (s.w1d < 0 || s.w1d > 3) {
    std::fprintf(stderr, "Strellixplus: -w1d must be between 0 and 3 (got %d)\n", s.w1d);
    return true;
  }
  if (s.w2d < 0 || s.w2d > 4) {
    std::fprintf(stderr, "Strellixplus: -w2d must be between 0 and 4 (got %d)\n", s.w2d);
    return true;
  }
  if (!s.Boot && s.F < 1) {
    std::fprintf(stderr, "Strellixplus: -F must be at least 1 (got %d)\n", s.F);
    return true;
  }
  if (s.video && s.skip < 1) {
    std::fprintf(stderr, "Strellixplus: -skip must be at least 1 (got %d)\n", s.skip);
    return true;
  }
  return false;
}

static double physical_memory_bytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(page_size);
}

// What one heap block of `bytes` really takes: the allocator's header and
// rounding, and a minimum block. Counts for the model's many small planes
// (n may be huge while the frame is one pixel).
static double heap_block_bytes(double bytes) {
  const double rounded = std::ceil((bytes + 8.0) / 16.0) * 16.0;
  return rounded < 32.0 ? 32.0 : rounded;
}

bool memory_refused(const RunSettings& s, std::size_t pixel_count) {
  double available = physical_memory_bytes();
  if (available <= 0.0) return false;  // unknown: let the allocations decide
  // Counted in double: n and F may be any int, far beyond size_t products.
  const double pixels = static_cast<double>(pixel_count);
  const double layers = static_cast<double>(s.n);
  // Per layer: its entry in the layer array, the plane array, three planes.
  const double layer_bytes = 8.0 + heap_block_bytes(24.0) + 3.0 * heap_block_bytes(4.0 * pixels);
  // frame_planes, render_planes (12 bytes a pixel each), render_rgb_planes,
  // match_index, seg_mask, filtered_mask, search_mask and mask_image.
  const double run_bytes = 35.0 * pixels;
  // The median's store keeps every frame, in tiles of 64 pixels.
  const double tiled_pixels = std::ceil(pixels / 64.0) * 64.0;
  const double median_bytes = s.Boot ? 0.0 : 3.0 * tiled_pixels * static_cast<double>(s.F) + 9.0 * pixels;
  const double needed = layers * layer_bytes + run_bytes + median_bytes;
  if (needed <= available) return false;
  std::fprintf(stderr,
               "Strellixplus: not enough memory: %d layers%s of %zu pixels need %.0f bytes, "
               "the machine has %.0f\n",
               s.n, s.Boot ? "" : " and the median's frame store", pixel_count, needed, available);
  return true;
}

void set_run_wide_settings(const RunSettings& s) {
  layer_count = s.n;
  width_1d = s.width_1d;
  learning_rate = s.lr;
  first_search_row = 0;
}

void allocate_frame_buffers(RunState& run) {
  RunBuffers& b = run.buffers;
  b.frame_planes = alloc_float_planes(3, run.N);
  b.bg_model = alloc_model(run.settings.n, run.N);
  b.seg_mask = static_cast<unsigned char*>(checked_calloc(run.N, 1));
  // With no search-mask file every pixel is processed, from row 0 on.
  search_mask = static_cast<unsigned char*>(checked_calloc(run.N, 1));
  std::memset(search_mask, 255, run.N);
  first_search_row = 0;
}

void release_run_buffers(RunState& run) {
  RunBuffers& b = run.buffers;
  const int w2 = run.settings.width_2d;
  free_planes(b.render_rgb_planes, 3);
  std::free(b.seg_mask);
  b.seg_mask = nullptr;
  std::free(b.filtered_mask);
  b.filtered_mask = nullptr;
  free_planes(b.frame_planes, 3);
  free_planes(b.render_planes, 3);
  free_model(b.bg_model, run.settings.n);
  free_planes(b.kernel_2d, w2);
  free_planes(b.rate_kernel_2d, w2);
  std::free(kernel_1d);
  kernel_1d = nullptr;
  std::free(b.match_index);
  b.match_index = nullptr;
  std::free(search_mask);
  search_mask = nullptr;
  b.mask_image.release();
}

}  // namespace strellix
