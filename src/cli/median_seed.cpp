#include "cli/median_seed.h"

#include "cli/command_failure.h"
#include "io/frame_source.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

cv::Mat temporal_median(const std::deque<cv::Mat>& frames, int threads) {
  TemporalMedian median(static_cast<int>(frames.size()), frames.front().size(), threads);
  for (const cv::Mat& frame : frames) median.add(frame);
  return median.result();
}

cv::Mat read_seed_image(const std::string& path, cv::Size size) {
  FrameRead read = grab_frame(0, nullptr, 0, path, size.width, size.height);
  if (read.status == GRAB_MISSING) throw input_error("cannot read the background " + path + ": no such file");
  if (read.status != GRAB_OK) throw input_error(read.error);
  return read.frame;
}

}  // namespace strellix::cli
