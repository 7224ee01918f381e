// Online update: only pixels that stay background after filtering learn.
#pragma once

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

void selective_update(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                      PlaneSet<float>* bg_model, const unsigned char* filtered_mask,
                      const PlaneSet<float> rate_kernel_2d, int width_2d, const int* match_index);

}  // namespace strellix
