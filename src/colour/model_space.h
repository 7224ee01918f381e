// Model-space conversion of frames, the pixel distance and the rendering of
// the background model back to RGB.
#pragma once

#include <opencv2/core.hpp>

#include "core/plane_set.h"
#include "core/settings.h"

namespace strellix {

constexpr float RENDER_START_DISTANCE = 100.0f;

// Frame (three 8-bit channels, B, G, R) to cone coordinates x, y, z in
// planes 0, 1, 2. Pixels whose search_mask byte is 0 are left unchanged.
// The extent is the image's own; pixel_count is not used.
void frame_to_model(const ModelSettings& s, const cv::Mat& image, int pixel_count, PlaneSet<float> planes);

// Squared distance between two model-space pixels, frame pixel first,
// in double precision (not rounded).
double pixel_distance(int mode, float a1, float a2, float a3, float b1, float b2, float b3);

// Per pixel, the layer nearest to the frame, copied into render_planes.
void render_background(const ModelSettings& s, const PlaneSet<float> frame_planes, int height, int width,
                       PlaneSet<float>* bg_model, int n, PlaneSet<float> render_planes);

// Model-space planes to 8-bit R, G, B planes.
void model_to_rgb_planes(int mode, const PlaneSet<float> source, int pixel_count,
                         PlaneSet<unsigned char> destination);

}  // namespace strellix
