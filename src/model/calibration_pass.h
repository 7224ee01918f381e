// One calibration frame: label and learn in a single raster sweep.
#pragma once

#include "core/pass_views.h"
#include "core/settings.h"

namespace strellix {

// Pixel (row, col) of the sweep: matched, labelled, and learnt from.
void calibrate_pixel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                     unsigned char* labels, float threshold, int row, int col);

// Labels every pixel of the frame into `labels` and teaches the model in
// place, in raster order.
void calibration_pass(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                      unsigned char* labels, float threshold);

}  // namespace strellix
