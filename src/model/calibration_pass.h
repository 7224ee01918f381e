// One calibration frame: label and learn in a single raster sweep.
#pragma once

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

// Pixel (row, col) of the sweep: matched, labelled, and learnt from.
void calibrate_pixel(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                     PlaneSet<float>* bg_model, unsigned char* seg_mask, const PlaneSet<float> rate_kernel_2d,
                     int n, int width_2d, float threshold, int row, int col);

void calibration_pass(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                      PlaneSet<float>* bg_model, unsigned char* seg_mask,
                      const PlaneSet<float> rate_kernel_2d, int n, int width_2d, float threshold);

}  // namespace strellix
