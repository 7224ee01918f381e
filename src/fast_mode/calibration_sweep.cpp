#include "fast_mode/calibration_sweep.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

#include <emmintrin.h>

#include "core/settings.h"
#include "core/worker_pool.h"

namespace strellix {
namespace fast {

namespace {

// The layer a pixel matches, by the segmentation's arithmetic and its rule
// for equal distances (segment_row); -1 when none is within the threshold.
int nearest_layer(const short* row_model, int layers, int column, const float value[3], float threshold) {
  float best = 3.0e38f;
  int match = -1;
  for (int j = 0; j < layers; ++j) {
    const float dz = static_cast<float>(row_model[model_offset(layers, 3 * j + 2, column)]) - value[2];
    const float dy = static_cast<float>(row_model[model_offset(layers, 3 * j + 1, column)]) - value[1];
    const float dx = static_cast<float>(row_model[model_offset(layers, 3 * j, column)]) - value[0];
    const float d = dz * dz + dy * dy + dx * dx;
    if (closer_or_tie_up(d, best)) {
      best = d;
      if (d <= threshold) match = j;
    }
  }
  return match;
}

// value moved by w towards `to`, rounded to nearest (halves to even) and
// kept in 16 bits, as the update stores values.
inline void blend_unit(short& value, float w, float to) {
  const float old = value;
  const float moved = std::min(32767.0f, std::max(-32768.0f, old + w * (to - old)));
  value = static_cast<short>(_mm_cvtss_si32(_mm_set_ss(moved)));
}

struct Pixel {
  int row, column;
  const float* value;  // x, y, z in model units
};

// The window's blends of a matched pixel into its layer m, wherever the
// labels say background (this frame's for the pixels already swept, the
// last frame's for the rest), then its blends across layers.
void learn(const SweepTarget& t, const Pixel& p, int m) {
  const int width = 2 * t.half + 1;
  const std::size_t block = static_cast<std::size_t>(3 * t.layers) * t.stride;
  // Cut to the image, anchored at the cut window's first row and column.
  const int r0 = std::max(0, p.row - t.half), r1 = std::min({t.height, p.row + t.half + 1, r0 + width});
  const int c0 = std::max(0, p.column - t.half), c1 = std::min({t.width, p.column + t.half + 1, c0 + width});
  for (int r = r0; r < r1; ++r) {
    short* row_model = t.model + r * block;
    const unsigned char* labels = t.labels + static_cast<std::size_t>(r) * t.width;
    const float* weights = t.window_weights + (r - r0) * width;
    for (int c = c0; c < c1; ++c) {
      if (labels[c] != LABEL_BACKGROUND) continue;
      for (int k = 0; k < 3; ++k)
        blend_unit(row_model[model_offset(t.layers, 3 * m + k, c)], weights[c - c0], p.value[k]);
    }
  }
  short* own = t.model + p.row * block;
  for (int j = 0; j < t.layers; ++j) {
    const float w = t.one_d[static_cast<std::size_t>(j) * (t.layers + 1) + (m + 1)];
    if (w == 0.0f) continue;  // not a neighbouring layer: no blend
    for (int k = 0; k < 3; ++k) blend_unit(own[model_offset(t.layers, 3 * j + k, p.column)], w, p.value[k]);
  }
}

// The label of an unmatched pixel by the segmentation's shadow test, run
// on a group of columns that all hold this pixel (and are only this
// thread's: the rows beside it may be changing their own).
unsigned char unmatched_label(const SweepTarget& t, const RowKernels& kernels, const short* row_model,
                              int column, const float value[3], std::vector<short>& group,
                              signed char& match) {
  group.resize(static_cast<std::size_t>(3 * t.layers) * ROW_ALIGN);
  for (int plane = 0; plane < 3 * t.layers; ++plane)
    std::fill_n(group.begin() + plane * ROW_ALIGN, 8, row_model[model_offset(t.layers, plane, column)]);
  float frame[3][8];
  for (int k = 0; k < 3; ++k) std::fill_n(frame[k], 8, value[k]);
  unsigned char labels[8];
  signed char layers[8];
  SegmentRow s;
  s.model = group.data();
  s.x = frame[0];
  s.y = frame[1];
  s.z = frame[2];
  s.stride = 8;
  s.width = 8;
  s.layers = t.layers;
  s.threshold = t.threshold;
  s.labels = labels;
  s.match = layers;
  kernels.segment(s);
  match = layers[0];
  return labels[0];
}

// What one sweep shares between its threads: how far each row has got.
struct Wavefront {
  const SweepTarget* target;
  const RowKernels* kernels;
  const cv::Mat* bgr;
  int lag;  // columns a row keeps behind the row above
  std::unique_ptr<std::atomic<int>[]> progress;
  std::atomic<int> next_row{0};
};

// Row r, pixel by pixel, never nearer than `lag` columns to the row above
// (when it runs beside it): every value a pixel reads or writes is then as
// the sweep in raster order leaves it.
void sweep_row(Wavefront& f, int r, std::vector<float>& row, std::vector<short>& group) {
  const SweepTarget& t = *f.target;
  row.resize(3 * static_cast<std::size_t>(t.stride));
  float* cone[3] = {row.data(), row.data() + t.stride, row.data() + 2 * static_cast<std::size_t>(t.stride)};
  f.kernels->convert(f.bgr->ptr<unsigned char>(r), t.width, cone[0], cone[1], cone[2]);
  const std::size_t block = static_cast<std::size_t>(3 * t.layers) * t.stride;
  short* row_model = t.model + r * block;
  unsigned char* labels = t.labels + static_cast<std::size_t>(r) * t.width;
  signed char* match = t.match + static_cast<std::size_t>(r) * t.width;
  const std::atomic<int>* above = f.progress && r > 0 ? &f.progress[r - 1] : nullptr;
  for (int c = 0; c < t.width; ++c) {
    if (above != nullptr) wait_for(*above, std::min(t.width, c + f.lag));
    const float value[3] = {cone[0][c], cone[1][c], cone[2][c]};
    const int m = nearest_layer(row_model, t.layers, c, value, t.threshold);
    if (m < 0) {
      labels[c] = unmatched_label(t, *f.kernels, row_model, c, value, group, match[c]);
    } else {
      labels[c] = LABEL_BACKGROUND;
      match[c] = static_cast<signed char>(m);
      learn(t, Pixel{r, c, value}, m);
    }
    if (f.progress) f.progress[r].store(c + 1, std::memory_order_release);
  }
}

// Rows are claimed in order, one at a time, by whichever thread is free: a
// thread only ever waits for a row that another thread is working on.
void sweep_rows(Wavefront& f) {
  std::vector<float> row;
  std::vector<short> group;
  for (int r = f.next_row.fetch_add(1); r < f.target->height; r = f.next_row.fetch_add(1))
    sweep_row(f, r, row, group);
}

}  // namespace

void calibration_sweep(const SweepTarget& t, const RowKernels& kernels, WorkerPool* workers,
                       const cv::Mat& bgr) {
  Wavefront f;
  f.target = &t;
  f.kernels = &kernels;
  f.bgr = &bgr;
  f.lag = 2 * t.half + 1;
  const int threads = workers != nullptr ? workers->threads() : 1;
  if (threads < 2 || t.height < 2) {
    sweep_rows(f);
    return;
  }
  f.progress.reset(new std::atomic<int>[static_cast<std::size_t>(t.height)]);
  for (int r = 0; r < t.height; ++r) f.progress[r].store(0, std::memory_order_relaxed);
  run_split(workers, threads, 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) sweep_rows(f);
  });
}

}  // namespace fast
}  // namespace strellix
