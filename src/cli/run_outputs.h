// The files a run writes for its frames: masks, mask video, overlay video,
// model renderings and the seed picture, all inside OUTDIR. A file that
// cannot be written is named on standard error and the run goes on; the
// exit code then says so.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "cli/segment_options.h"
#include "cli/video_output.h"

namespace strellix::cli {

class RunOutputs {
 public:
  explicit RunOutputs(const SegmentOptions& options) : o_(options) {}

  // Starts the videos asked for, for frames of `size`. Throws CommandFailure
  // with EXIT_OUTPUT when an encoder cannot be opened.
  void open_videos(cv::Size size, double input_frame_rate);
  bool wants_videos() const { return !o_.mask_video.empty() || !o_.overlay.empty(); }

  // The mask file of frame `number` and the frame's place in the videos.
  void add_frame(long long number, const cv::Mat& frame, const cv::Mat& mask);
  // Only the videos: a resumed run writes them again for the frames done.
  void add_video_frame(const cv::Mat& frame, const cv::Mat& mask);

  void write_seed(const cv::Mat& image);                         // background.png
  void write_rendering(long long number, const cv::Mat& image);  // background%06d.png

  // Completes the videos and gives them their names.
  void finish_videos();

  // Some output could not be written.
  bool failed() const { return failed_; }
  void note_failure() { failed_ = true; }

 private:
  void save(const std::string& name, const cv::Mat& image);

  const SegmentOptions& o_;
  VideoOutput mask_video_, overlay_;
  bool failed_ = false;
};

}  // namespace strellix::cli
