// The quick-look picture of a frame: its moving objects tinted red.
#pragma once

#include <opencv2/core.hpp>

namespace strellix::cli {

// `frame` (8-bit BGR) with every pixel where `mask` (8-bit, one channel, the
// frame's size) is nonzero blended half way towards pure red.
cv::Mat tinted_overlay(const cv::Mat& frame, const cv::Mat& mask);

}  // namespace strellix::cli
