#include "fast_mode/calibration_sweep.h"

#include <algorithm>
#include <cstddef>

#include <emmintrin.h>

#include "model/settings.h"

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

// The label of an unmatched pixel: the segmentation of its eight columns,
// whose shadow test it takes.
unsigned char unmatched_label(const SweepTarget& t, const RowKernels& kernels, const short* row_model,
                              const float* const* cone, int column, signed char& match) {
  const int first = column / 8 * 8;
  unsigned char labels[8];
  signed char layers[8];
  SegmentRow s;
  s.model = row_model + model_offset(t.layers, 0, first);
  s.x = cone[0] + first;
  s.y = cone[1] + first;
  s.z = cone[2] + first;
  s.stride = 8;
  s.layers = t.layers;
  s.threshold = t.threshold;
  s.labels = labels;
  s.match = layers;
  kernels.segment(s);
  match = layers[column - first];
  return labels[column - first];
}

}  // namespace

void calibration_sweep(const SweepTarget& t, const RowKernels& kernels, const cv::Mat& bgr,
                       std::vector<float>& row) {
  row.assign(3 * static_cast<std::size_t>(t.stride), 0.0f);
  float* cone[3] = {row.data(), row.data() + t.stride, row.data() + 2 * static_cast<std::size_t>(t.stride)};
  const std::size_t block = static_cast<std::size_t>(3 * t.layers) * t.stride;
  for (int r = 0; r < t.height; ++r) {
    kernels.convert(bgr.ptr<unsigned char>(r), t.width, cone[0], cone[1], cone[2]);
    short* row_model = t.model + r * block;
    unsigned char* labels = t.labels + static_cast<std::size_t>(r) * t.width;
    signed char* match = t.match + static_cast<std::size_t>(r) * t.width;
    for (int c = 0; c < t.width; ++c) {
      const float value[3] = {cone[0][c], cone[1][c], cone[2][c]};
      const int m = nearest_layer(row_model, t.layers, c, value, t.threshold);
      if (m < 0) {
        labels[c] = unmatched_label(t, kernels, row_model, cone, c, match[c]);
        continue;
      }
      labels[c] = LABEL_BACKGROUND;
      match[c] = static_cast<signed char>(m);
      learn(t, Pixel{r, c, value}, m);
    }
  }
}

}  // namespace fast
}  // namespace strellix
