// How a matched pixel teaches the model: over an image window in its own
// layer, and across the neighbouring layers at its own position.
#pragma once

#include "core/plane_set.h"

namespace strellix {

// Blends value into `layer` at the window pixels around (y, x), cut to the
// image, whose label byte is LABEL_BACKGROUND, with weights anchored at the
// clipped window's top-left corner.
void update_neighbourhood_2d(const float value[3], int H, int W, PlaneSet<float> layer,
                             const PlaneSet<float> weights, int width, int y, int x,
                             const unsigned char* labels);

// Blends value into the layers within the 1D half-width of m at pixel p.
void update_layers_1d(const float value[3], PlaneSet<float>* bg_model, const float* kernel, int width, int m,
                      int n, int p, float rate);

}  // namespace strellix
