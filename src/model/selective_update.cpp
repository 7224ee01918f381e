#include "model/selective_update.h"

#include <cstddef>

#include "core/settings.h"
#include "model/neighbourhood_update.h"

namespace strellix {

namespace {

// A pixel teaches the model only when it is in the search area, stayed
// background through the filter and was matched in this frame. The layer
// bound keeps a stale or foreign index from reaching past the model.
bool learns(const ModelSettings& s, std::size_t p, const unsigned char* filtered_mask,
            const int* match_index) {
  return s.search_mask[p] != 0 && filtered_mask[p] == LABEL_BACKGROUND && match_index[p] >= 0 &&
         match_index[p] < s.layer_count;
}

}  // namespace

void selective_update(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                      const LabelView& labels) {
  const int H = frame.height;
  const int W = frame.width;
  const PlaneSet<float> frame_planes = frame.planes;
  const unsigned char* filtered_mask = labels.filtered;
  const int* match_index = labels.match_index;
  const int start_row = s.first_search_row < 0 ? 0 : s.first_search_row;
  if (start_row >= H || W <= 0) return;
  // The model changes in place, so later centres blend into values that
  // earlier centres of this frame have already moved.
  for (int row = start_row; row < H; ++row) {
    for (int col = 0; col < W; ++col) {
      const std::size_t p = static_cast<std::size_t>(row) * W + col;
      if (!learns(s, p, filtered_mask, match_index)) continue;
      const float value[3] = {frame_planes[0][p], frame_planes[1][p], frame_planes[2][p]};
      const int m = match_index[p];
      update_neighbourhood_2d(value, H, W, model.layers[m], model.rates, model.rates_width, row, col,
                              filtered_mask);
      update_layers_1d(value, model.layers, s.kernel_1d, s.width_1d, m, s.layer_count, static_cast<int>(p),
                       s.learning_rate);
    }
  }
}

}  // namespace strellix
