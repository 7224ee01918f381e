// Inputs the video library decodes: a video file in any container it
// opens, a camera, or a stream given by URL. Frame k is the k-th decoded.
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <cmath>
#include <cstdio>
#include <string>

#include "cli/command_failure.h"
#include "cli/input_source.h"

namespace strellix::cli {

namespace {

// The video library's own guess at the frame count and rate; containers
// may lack them, and cameras and live streams have neither.
double capture_property(cv::VideoCapture& capture, int property) {
  try {
    const double value = capture.get(property);
    return std::isfinite(value) ? value : 0.0;
  } catch (const cv::Exception&) {
    return 0.0;
  }
}

// Streams go straight to the video library: they are no regular files to
// check first. The explicit backend keeps other backends from trying the
// URL in turn.
bool open_stream(cv::VideoCapture& capture, const std::string& url) {
  try {
    if (cv::videoio_registry::hasBackend(cv::CAP_FFMPEG)) return capture.open(url, cv::CAP_FFMPEG);
    return capture.open(url);
  } catch (const cv::Exception&) {
    return false;
  }
}

bool open_camera(cv::VideoCapture& capture, int index) {
  try {
    return capture.open(index);
  } catch (const cv::Exception&) {
    return false;
  }
}

class VideoInput : public InputSource {
 public:
  VideoInput(const InputLocation& location, long long start, const std::optional<long long>& end)
      : location_(location) {
    open(location);
    first_number_ = start;
    if (!skip(start - 1))
      throw input_error(location.text + " has fewer than " + std::to_string(start) +
                        " frames; there is no frame " + std::to_string(start));
    next_ = start;
    const double count = capture_property(capture_, cv::CAP_PROP_FRAME_COUNT);
    last_ = end.value_or(MAX_FRAME_NUMBER);
    if (count >= 1 && count < static_cast<double>(MAX_FRAME_NUMBER)) {
      total_ = std::min(last_, static_cast<long long>(count)) - start + 1;
      if (total_ < 0) total_ = 0;
    } else if (end) {
      total_ = *end - start + 1;
    }
    const double rate = capture_property(capture_, cv::CAP_PROP_FPS);
    rate_ = rate > 0.0 && rate <= 1000.0 ? rate : 0.0;
  }

  FrameRead read(long long& number) override {
    if (next_ > last_) return FrameRead();
    const std::string name = location_.text + " frame " + std::to_string(next_);
    FrameRead read = grab_frame(1, &capture_, 1, name, expected_.width, expected_.height);
    if (read.status != GRAB_OK) return read;
    if (expected_.empty()) expected_ = read.frame.size();
    number = next_++;
    return read;
  }

  bool skip(long long count) override {
    for (long long k = 0; k < count; ++k) {
      bool grabbed = false;
      try {
        grabbed = capture_.grab();
      } catch (const cv::Exception&) {
        grabbed = false;
      }
      if (!grabbed) return false;
      ++next_;
    }
    return true;
  }

  long long total() const override { return total_; }
  double frame_rate() const override { return rate_; }

 private:
  void open(const InputLocation& location) {
    switch (location.kind) {
      case InputKind::camera:
        if (!open_camera(capture_, location.camera)) throw input_error("cannot open " + location.text);
        break;
      case InputKind::stream:
        if (!open_stream(capture_, location.text))
          throw input_error("cannot open the stream " + location.text);
        break;
      default: {
        // Missing, not a regular file, not a video.
        std::string error;
        if (!open_video(capture_, location.text, error)) throw input_error(error);
      }
    }
  }

  InputLocation location_;
  cv::VideoCapture capture_;
  long long next_ = 1, last_ = 0, total_ = -1;
  double rate_ = 0.0;
};

}  // namespace

std::unique_ptr<InputSource> open_video_input(const InputLocation& location, long long start,
                                              const std::optional<long long>& end) {
  return std::make_unique<VideoInput>(location, start, end);
}

}  // namespace strellix::cli
