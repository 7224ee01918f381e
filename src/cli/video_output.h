// A video written under a temporary name in its directory and renamed into
// place once complete, like every other output: it appears whole or not at
// all. The codec follows the container: FFV1 (lossless) for .mkv, H.264
// for .mp4, .m4v and .mov (MPEG-4 part 2 where the video library has no
// H.264 encoder, or the frame size does not suit it), Motion JPEG for .avi.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <string>

namespace strellix::cli {

// True when the extension of `name` is one of the containers above.
bool video_container_supported(const std::string& name);

class VideoOutput {
 public:
  VideoOutput() = default;
  ~VideoOutput();  // an unfinished video is removed
  VideoOutput(const VideoOutput&) = delete;
  VideoOutput& operator=(const VideoOutput&) = delete;

  // Starts the video `path` of frames of `size`, one channel or three.
  // False, with nothing left behind, when the encoder cannot be opened.
  bool open(const std::string& path, cv::Size size, double frames_per_second, bool colour);
  bool is_open() const { return writer_.isOpened(); }
  const std::string& path() const { return path_; }
  // "h264", "mpeg4", "ffv1" or "mjpeg" once open; "" before.
  const std::string& codec() const { return codec_; }

  void write(const cv::Mat& image);

  // Completes the file and gives it its name; false, with errno saying
  // why, when that fails (the temporary file is then removed).
  bool finish();

 private:
  void discard();

  cv::VideoWriter writer_;
  std::string path_, temporary_, codec_;
  int slot_ = -1;
};

}  // namespace strellix::cli
