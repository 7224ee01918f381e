// The weights of the fast mode's update, made once per model (and the
// growth table once per rate): the window's whole-number kernel and how
// each target row and column takes it, the blends across layers, and how
// far a count of weight units moves a layer.
#pragma once

#include <vector>

namespace strellix {
namespace fast {

struct UpdateWeights {
  int half = 0;  // of the 2D window
  int width = 1;
  // The kernel is its first row times its first column (half-widths 0 and
  // 1): the update takes vertical and then horizontal sums.
  bool separable = true;
  std::vector<float> kernel;  // width x width whole numbers, row by row
  // The column weights of the first eight target columns, per lane:
  // [kernel row][dx + half][lane]. Near the left edge the window is cut
  // and the kernel anchored at its first column, so a centre in the first
  // `half` columns gives its targets the kernel's columns from 0 on.
  std::vector<float> edge;
  // Separable kernels: row 0 of `edge` for the first sixteen columns, as
  // 16-bit integers: [dx + half][lane].
  std::vector<short> edge_words;
  // Layer j: the weight of the blend across layers into layer j, by the
  // layer the pixel teaches plus one (entry 0: teaches none), layers + 1
  // entries.
  std::vector<float> one_d;
  // By the count K of weight units a target layer gathers: the share of
  // the way to the centres' weighted mean that K blends of one unit (the
  // rate) each would move it, over K. Entry 0 is 0.
  std::vector<float> grow;
  // The window's blend weights at the rate, as floats: the calibration
  // sweep blends them one by one.
  std::vector<float> window;
  int grow_size = 0;  // entries of grow in use
  // While rate * K stays small the same share is a cubic in K, cheaper
  // than a table lookup and within 1.3e-4 of it (relative).
  bool grow_polynomial = false;
  float grow_coefficients[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float grow_rate = -1.0f;  // the rate grow holds
  // The fixed-point tables of UpdateRow, and whether they hold: separable
  // windows, at most 7 layers, at most 31 weight units, every blend below 1.
  bool fixed_point = false;
  bool fixed_point_possible = false;
  std::vector<short> grow_fraction;     // 32 entries
  std::vector<short> inverse_fraction;  // 32 entries
  std::vector<short> one_d_fraction;    // 8 a layer
};

// kernel_2d: the width_2d x width_2d whole-number kernel; kernel_1d:
// width_1d weights across layers.
UpdateWeights make_update_weights(int layers, int width_1d, const float* kernel_1d, int width_2d,
                                  const float* const* kernel_2d, float learning_rate);

// The growth table for blends of `rate` per weight unit (kept when it
// holds that rate already).
void set_rate(UpdateWeights& weights, float rate);

// The kernel row a centre row gives a target row: centred, except for
// centres in the first `half` rows, whose cut windows take the kernel from
// its first row on.
inline int kernel_row_for(int half, int target_row, int centre_row) {
  return centre_row >= half ? target_row - centre_row + half : target_row;
}

}  // namespace fast
}  // namespace strellix
