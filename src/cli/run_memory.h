// The memory a `strellix segment` run needs before its first mask: the
// library's estimate for the model and the median's store, and the frames
// the run keeps while it reads the median. `segment` refuses a run that
// would not fit; `probe` prints the same figure for a scheduler.
#pragma once

#include <opencv2/core.hpp>

#include "strellix/strellix.hpp"

namespace strellix::cli {

struct RunMemory {
  long long median_frames = 0;  // frames the median is taken over, 0 with a seed image
  double model_bytes = 0.0;     // the model and its buffers
  double median_bytes = 0.0;    // the median's store
  double kept_bytes = 0.0;      // the median's frames, kept to be segmented after
  double total() const { return model_bytes + median_bytes + kept_bytes; }
};

// For frames of `size`. `median_frames` is what the run will take the
// median of: --median-frames, fewer when the input is known to be shorter,
// 0 when a seed image replaces the median.
RunMemory run_memory(const Parameters& parameters, cv::Size size, long long median_frames);

}  // namespace strellix::cli
