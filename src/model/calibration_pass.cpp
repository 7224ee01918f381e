#include "model/calibration_pass.h"

#include <algorithm>

#include "core/settings.h"
#include "model/best_match.h"
#include "model/neighbourhood_update.h"

namespace strellix {

// Label first, then learn: the 2D update reads seg_mask, and the pixel itself
// must already count as background when its own window is blended.
void calibrate_pixel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                     unsigned char* seg_mask, float threshold, int row, int col) {
  const int W = frame.width;
  const int n = model.count;
  PlaneSet<float>* bg_model = model.layers;
  const PlaneSet<float> frame_planes = frame.planes;
  const int p = row * W + col;
  const float c[3] = {frame_planes[0][p], frame_planes[1][p], frame_planes[2][p]};
  int best = -1;
  const int result = find_best_match(s, c[0], c[1], c[2], bg_model, p, n, threshold, best);
  if (result == MATCH_FOUND) {
    seg_mask[p] = LABEL_BACKGROUND;
    update_neighbourhood_2d(c, frame.height, W, bg_model[best], model.rates, model.rates_width, row, col,
                            seg_mask);
    update_layers_1d(c, bg_model, s.kernel_1d, s.width_1d, best, n, p, s.learning_rate);
  } else if (result == MATCH_SHADOW) {
    seg_mask[p] = LABEL_SHADOW;
  } else {
    seg_mask[p] = LABEL_FOREGROUND;
  }
}

// One raster sweep that changes the model in place: later pixels are matched
// against a model that already holds this frame's earlier updates, and the
// labels after the current pixel are still those of the previous frame.
void calibration_pass(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                      unsigned char* seg_mask, float threshold) {
  const int H = frame.height;
  const int W = frame.width;
  if (s.first_search_row >= H) return;
  for (int row = std::max(0, s.first_search_row); row < H; ++row) {
    for (int col = 0; col < W; ++col) {
      if (s.search_mask[row * W + col] == 0) continue;
      calibrate_pixel(s, frame, model, seg_mask, threshold, row, col);
    }
  }
}

}  // namespace strellix
