// Frame conversion into the model space for the per-frame loop: the same
// floats as frame_to_model, bit for bit, at a fraction of the cost.
#pragma once

#include <opencv2/core.hpp>

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

// Drop-in for frame_to_model (same arguments, same results).
void frame_to_model_fast(const ModelSettings& s, const cv::Mat& image, int pixel_count,
                         PlaneSet<float> planes);

// The same on the calling thread alone, for a thread that must not wait
// for the passes on the worker threads.
void frame_to_model_on_caller(const ModelSettings& s, const cv::Mat& image, PlaneSet<float> planes);

// Cone coordinates x, y of one colour, as frame_to_model computes them
// (the third coordinate is the value, the largest channel over 255).
void colour_to_cone_xy(int red, int green, int blue, float& x, float& y);

}  // namespace strellix
