// The picture that seeds the model: the temporal median of the first
// frames, or an image the user gives.
#pragma once

#include <opencv2/core.hpp>

#include <deque>
#include <string>

namespace strellix::cli {

// The per-pixel, per-channel temporal median of `frames` (8-bit BGR, one
// size), taken as Subtractor::initialize takes it, on `threads` threads
// (0: one per core). Seeding a model with it through initialize_background
// is the same as initialize(frames).
cv::Mat temporal_median(const std::deque<cv::Mat>& frames, int threads);

// The image `path`, read as a frame is (the hardened reader) and required
// to be `size`. Throws CommandFailure with EXIT_NO_INPUT, naming the file
// and what is wrong.
cv::Mat read_seed_image(const std::string& path, cv::Size size);

}  // namespace strellix::cli
