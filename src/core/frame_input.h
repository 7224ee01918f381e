// Frames as callers hand them in, brought to the three 8-bit channels (blue,
// green, red) that the model reads.
#pragma once

#include <opencv2/core.hpp>

namespace strellix {

// The frame itself when it is already 8-bit BGR (no copy); grey and BGRA
// frames converted (grey repeated, alpha dropped), 16-bit ones by their
// high byte. Empty when the frame is empty or of another depth or channel
// count.
cv::Mat frame_as_bgr8(const cv::Mat& frame);

// True when frame_as_bgr8 takes the frame.
bool frame_type_supported(const cv::Mat& frame);

// The same, throwing std::invalid_argument with a message that names
// `what` ("frame", "background", ...) instead of giving an empty result.
cv::Mat require_bgr8(const cv::Mat& frame, const char* what);

}  // namespace strellix
