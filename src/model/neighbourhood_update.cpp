#include "model/neighbourhood_update.h"

#include <algorithm>

#include "core/settings.h"

namespace strellix {

namespace {

// w*value + (1-w)*old in double, stored as float. No clamping: weights
// above 1 extrapolate on purpose.
float blend(double w, float value, float old) {
  return static_cast<float>(w * static_cast<double>(value) + (1.0 - w) * static_cast<double>(old));
}

void blend_pixel(const float value[3], PlaneSet<float> planes, int index, double w) {
  for (int k = 0; k < 3; ++k) planes[k][index] = blend(w, value[k], planes[k][index]);
}

}  // namespace

void update_neighbourhood_2d(const float value[3], int H, int W, PlaneSet<float> layer,
                             const PlaneSet<float> weights, int width, int y, int x,
                             const unsigned char* labels) {
  if (width < 1) return;
  const int hw = width / 2;
  const int r0 = std::max(0, y - hw);
  const int c0 = std::max(0, x - hw);
  // The weights are anchored at the clipped window's top-left corner, so
  // at the top and left edges the matrix is shifted rather than
  // re-centred; stored models depend on that. The extra cap by `width`
  // only matters for an even width, where the window would otherwise
  // reach one row and column past the matrix.
  const int r1 = std::min({H, y + hw + 1, r0 + width});
  const int c1 = std::min({W, x + hw + 1, c0 + width});
  for (int r = r0; r < r1; ++r) {
    const float* weight_row = weights[r - r0];
    for (int c = c0; c < c1; ++c) {
      const int index = r * W + c;
      if (labels[index] != LABEL_BACKGROUND) continue;
      blend_pixel(value, layer, index, static_cast<double>(weight_row[c - c0]));
    }
  }
}

void update_layers_1d(const float value[3], PlaneSet<float>* bg_model, const float* kernel, int width, int m,
                      int n, int p, float rate) {
  if (width < 1) return;
  const int hw = width / 2;
  const int lo = std::max(0, m - hw);
  // Near layer 0 the kernel index starts at the clipped bound, so its
  // entries shift toward the low layers instead of staying centred on m.
  // The cap by `width` keeps an even width inside the kernel.
  const int hi = std::min({n, m + hw + 1, lo + width});
  for (int j = lo; j < hi; ++j) {
    if (j == m) continue;  // layer m learns through the 2D update only
    const double w = static_cast<double>(rate) * static_cast<double>(kernel[j - lo]);
    blend_pixel(value, bg_model[j], p, w);
  }
}

}  // namespace strellix
