// The calibration sweep as a wavefront. A pixel depends on the pixels
// before it in raster order within the 2D half-width hw of it: their updates
// reach its model values, and their labels decide which of its window's
// pixels its own update blends. Its update in turn writes the model within
// hw of it. So a row may run as soon as the row above is 2 hw + 1 columns
// ahead: then every update that comes before a pixel in the sweep has
// happened, and none that comes after it has, for every value the pixel
// reads or writes. Rows are claimed in order, one at a time, by whichever
// thread is free; a thread only ever waits for a row that another thread
// is already working on.
#include <algorithm>
#include <atomic>
#include <memory>

#include "core/worker_pool.h"
#include "model/calibration_pass.h"
#include "model/parallel_passes.h"

namespace strellix {

namespace {

struct Wavefront {
  const ModelSettings* s;
  FrameView frame;
  ModelView model;
  unsigned char* labels;
  float threshold;
  int H, W, start_row, lag;
  std::unique_ptr<std::atomic<int>[]> progress;  // columns done per row
  std::atomic<int> next_row;
};

void run_row(Wavefront& f, int row) {
  const unsigned char* mask = f.s->search_mask + static_cast<std::size_t>(row) * f.W;
  std::atomic<int>* above = row > f.start_row ? &f.progress[row - 1] : nullptr;
  for (int col = 0; col < f.W; ++col) {
    if (above != nullptr) wait_for(*above, std::min(f.W, col + f.lag));
    if (mask[col] != 0) calibrate_pixel(*f.s, f.frame, f.model, f.labels, f.threshold, row, col);
    f.progress[row].store(col + 1, std::memory_order_release);
  }
}

void run_rows(Wavefront& f) {
  for (int row = f.next_row.fetch_add(1); row < f.H; row = f.next_row.fetch_add(1)) run_row(f, row);
}

}  // namespace

int calibration_lag(int width_2d) {
  return 2 * (width_2d > 0 ? width_2d / 2 : 0) + 1;
}

void calibration_pass_skewed(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                             unsigned char* labels, float threshold, int lag) {
  const int H = frame.height;
  const int W = frame.width;
  const int start_row = std::max(0, s.first_search_row);
  if (start_row >= H || W < 1) return;
  const long long last_step =
      static_cast<long long>(W - 1) + static_cast<long long>(lag) * (H - 1 - start_row);
  for (long long step = 0; step <= last_step; ++step) {
    for (int row = H - 1; row >= start_row; --row) {
      const long long col = step - static_cast<long long>(lag) * (row - start_row);
      if (col < 0 || col >= W || s.search_mask[static_cast<std::size_t>(row) * W + col] == 0) continue;
      calibrate_pixel(s, frame, model, labels, threshold, row, static_cast<int>(col));
    }
  }
}

void calibration_pass_wavefront(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                                unsigned char* labels, float threshold) {
  const int H = frame.height;
  const int W = frame.width;
  const int start_row = std::max(0, s.first_search_row);
  const int threads = s.run.workers != nullptr ? s.run.workers->threads() : 1;
  if (threads < 2 || H - start_row < 2 || W < 1) {
    calibration_pass(s, frame, model, labels, threshold);
    return;
  }
  Wavefront f{&s,
              frame,
              model,
              labels,
              threshold,
              H,
              W,
              start_row,
              calibration_lag(model.rates_width),
              std::unique_ptr<std::atomic<int>[]>(new std::atomic<int>[static_cast<std::size_t>(H)]),
              { start_row }};
  for (int row = 0; row < H; ++row) f.progress[row].store(0, std::memory_order_relaxed);
  run_split(s.run.workers, threads, 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) run_rows(f);
  });
}

}  // namespace strellix
