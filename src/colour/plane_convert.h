// Moves between interleaved images and planes.
#pragma once

#include <opencv2/core.hpp>

#include "core/plane_set.h"

namespace strellix {

// Interleaved B, G, R bytes to planes R (0), G (1), B (2), in memory row
// order. The extent is the image's own; pixel_count is not used.
void image_to_planes(const cv::Mat& image, int pixel_count, PlaneSet<unsigned char> planes);

// The exact inverse, into an existing image of the same size. Row padding
// is left untouched.
void planes_to_image(const PlaneSet<unsigned char> planes, int pixel_count, cv::Mat& image);

// Labels to the one-channel 8-bit mask image: exactly LABEL_FOREGROUND
// becomes 255, every other label 0. Row padding is left untouched.
void labels_to_image(const unsigned char* labels, int pixel_count, cv::Mat& image);

}  // namespace strellix
