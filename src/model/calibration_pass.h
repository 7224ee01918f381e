// One calibration frame: label and learn in a single raster sweep.
#pragma once

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

void calibration_pass(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                      PlaneSet<float>* bg_model, unsigned char* seg_mask,
                      const PlaneSet<float> rate_kernel_2d, int n, int width_2d, float threshold);

}  // namespace strellix
