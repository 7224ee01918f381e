// The files a run writes for its frames: masks, mask video, overlay video,
// model renderings and the seed picture, all inside OUTDIR. The first file
// that cannot be written ends the run: it is remembered with the system's
// reason ("No space left on device"), and nothing more is written after
// it, so that the files there are those of every frame up to one point.
#pragma once

#include <opencv2/core.hpp>

#include <atomic>
#include <mutex>
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
  // The codec of each video asked for ("h264", "mpeg4", "ffv1", "mjpeg").
  std::string mask_video_codec() const { return mask_video_.codec(); }
  std::string overlay_codec() const { return overlay_.codec(); }

  // The mask file of frame `number` and the frame's place in the videos;
  // false when it could not be written.
  bool add_frame(long long number, const cv::Mat& frame, const cv::Mat& mask);
  // Only the videos: a resumed run writes them again for the frames done.
  void add_video_frame(const cv::Mat& frame, const cv::Mat& mask);

  void write_seed(const cv::Mat& image);                         // background.png
  void write_rendering(long long number, const cv::Mat& image);  // background%06d.png

  // Completes the videos and gives them their names.
  void finish_videos();

  // Some output could not be written; what, and why. Safe to ask from any
  // thread while another writes.
  bool failed() const { return failed_.load(); }
  std::string failure() const;
  // Notes a failure found elsewhere (a checkpoint); the first one stays.
  void note_failure(const std::string& message);

 private:
  bool save(const std::string& name, const cv::Mat& image);

  const SegmentOptions& o_;
  VideoOutput mask_video_, overlay_;
  std::atomic<bool> failed_{false};
  mutable std::mutex failure_lock_;
  std::string failure_;
};

// "cannot write PATH: REASON" for a write that has just failed, the reason
// from errno (0: the image could not be encoded).
std::string write_failure(const std::string& path, int error);

}  // namespace strellix::cli
