// The temporal median of a run of frames, taken one frame at a time, so
// that a caller reading frames from a file or a camera keeps none of them.
#pragma once

#include <opencv2/core.hpp>

#include "core/plane_set.h"
#include "core/settings.h"
#include "model/temporal_median.h"

namespace strellix {

class MedianBuilder {
 public:
  // Room for frame_count frames of width x height; throws
  // AllocationFailure when the store does not fit.
  MedianBuilder(int frame_count, int width, int height);
  ~MedianBuilder();
  MedianBuilder(const MedianBuilder&) = delete;
  MedianBuilder& operator=(const MedianBuilder&) = delete;

  // The next frame: 8-bit BGR of the builder's size (not checked here).
  void add(const cv::Mat& bgr);
  int added() const { return added_; }

  // The per-pixel, per-channel median of the frames added, as an 8-bit BGR
  // image: the middle value for an odd count, the floor of the mean of the
  // two middle values for an even one.
  cv::Mat result(const PassExecution& run) const;

 private:
  int width_, height_;
  int added_ = 0;
  FrameStore* store_ = nullptr;
  Planes<unsigned char> scratch_;
};

}  // namespace strellix
