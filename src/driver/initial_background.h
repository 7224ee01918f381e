// The initial background as the temporal median of the first frames.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "core/settings.h"

namespace strellix {

// Per-pixel, per-channel median of frame_count frames, the first read with
// `skip` (video) and named first_number, the next ones first_number+1, ...
// Video input opens its own capture on "%s.avi", so it always starts at the
// video's beginning. Every frame must be want_width x want_height.
// On failure the result is empty: a missing frame has been reported with
// "Unable to read expected file %s\n" on standard output, an unusable one
// with the reader's message on standard error. `run` is how the median's counting
// runs.
cv::Mat median_background(int first_number, int frame_count, int video, int skip,
                          const std::string& seq_prefix, int want_width, int want_height,
                          const PassExecution& run);

}  // namespace strellix
