// Inputs the video library decodes: a video file in any container it
// opens, a camera, or a stream given by URL. Frame k is the k-th decoded.
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/command_failure.h"
#include "cli/input_source.h"
#include "cli/stream_diagnosis.h"

namespace strellix::cli {

namespace {

using Clock = std::chrono::steady_clock;

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

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A wait the video library gave up after the time-out, not an answer.
bool timed_out(double waited, double timeout) {
  return waited >= 0.9 * timeout;
}

// Streams go straight to the video library: they are no regular files to
// check first. The explicit backend keeps other backends from trying the
// URL in turn; it also gives up opening or reading after the time-out.
bool open_stream(cv::VideoCapture& capture, const std::string& url, double timeout) {
  const int milliseconds = static_cast<int>(std::min(timeout * 1000.0, 1e9));
  try {
    if (cv::videoio_registry::hasBackend(cv::CAP_FFMPEG))
      return capture.open(
          url, cv::CAP_FFMPEG,
          {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, milliseconds, cv::CAP_PROP_READ_TIMEOUT_MSEC, milliseconds});
    return capture.open(url);
  } catch (const cv::Exception&) {
    return false;
  }
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
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
  VideoInput(const InputLocation& location, long long start, const std::optional<long long>& end,
             double timeout)
      : location_(location), timeout_(timeout) {
    open(location);
    first_number_ = start;
    if (!skip(start - 1))
      throw input_error(location.text + " has fewer than " + std::to_string(start) +
                        " frames; there is no frame " + std::to_string(start));
    next_ = start;
    const double count = capture_property(capture_, cv::CAP_PROP_FRAME_COUNT);
    last_ = end.value_or(MAX_FRAME_NUMBER);
    if (count >= 1 && count < static_cast<double>(MAX_FRAME_NUMBER)) {
      declared_ = static_cast<long long>(count);
      total_ = std::min(last_, declared_) - start + 1;
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
    const Clock::time_point asked = Clock::now();
    FrameRead read = grab_frame(1, &capture_, 1, name, expected_.width, expected_.height);
    if (read.status == GRAB_MISSING) note_end(seconds_since(asked));
    if (read.status != GRAB_OK) return read;
    if (expected_.empty()) expected_ = read.frame.size();
    number = next_++;
    return read;
  }

  bool skip(long long count) override {
    for (long long k = 0; k < count; ++k) {
      bool grabbed = false;
      const Clock::time_point asked = Clock::now();
      try {
        grabbed = capture_.grab();
      } catch (const cv::Exception&) {
        grabbed = false;
      }
      if (!grabbed) {
        note_end(seconds_since(asked));
        return false;
      }
      ++next_;
    }
    return true;
  }

  long long total() const override { return total_; }
  double frame_rate() const override { return rate_; }
  std::string ended_early() const override { return ended_early_; }

 private:
  void open(const InputLocation& location) {
    switch (location.kind) {
      case InputKind::camera:
        if (!open_camera(capture_, location.camera)) throw input_error("cannot open " + location.text);
        break;
      case InputKind::stream: {
        const Clock::time_point asked = Clock::now();
        if (open_stream(capture_, location.text, timeout_)) break;
        if (timed_out(seconds_since(asked), timeout_))
          throw input_error("cannot open the stream " + location.text + ": no answer within " +
                            seconds_text(timeout_) + " s (time-out; see --stream-timeout)");
        const std::string why = why_stream_fails(location.text, timeout_);
        throw input_error("cannot open the stream " + location.text + ": " +
                          (why.empty() ? std::string("the video library cannot read it") : why));
      }
      default: {
        // Missing, not a regular file, not a video.
        std::string error;
        if (!open_video(capture_, location.text, error)) throw input_error(error);
      }
    }
  }

  // The input gave no frame `next_` after `waited` seconds: the end of a
  // stream that went quiet, of a video shorter than its container says,
  // or simply the end.
  void note_end(double waited) {
    const long long got = next_ - 1;
    if (location_.kind == InputKind::stream && timed_out(waited, timeout_)) {
      ended_early_ = location_.text + " sent no frame for " + seconds_text(timeout_) + " s after frame " +
                     std::to_string(got) + " (time-out; see --stream-timeout)";
    } else if (declared_ > 0 && got < std::min(declared_, last_)) {
      ended_early_ = location_.text + " ended after frame " + std::to_string(got) +
                     ", but its container declares " + std::to_string(declared_) + " frames: " +
                     (location_.kind == InputKind::stream ? "the stream was cut off"
                                                          : "the file is damaged or cut short");
    }
  }

  InputLocation location_;
  const double timeout_;  // of a stream, in seconds
  cv::VideoCapture capture_;
  long long next_ = 1, last_ = 0, total_ = -1;
  long long declared_ = 0;  // frames the container declares, 0: none
  double rate_ = 0.0;
  std::string ended_early_;
};

}  // namespace

std::unique_ptr<InputSource> open_video_input(const InputLocation& location, long long start,
                                              const std::optional<long long>& end, double stream_timeout) {
  return std::make_unique<VideoInput>(location, start, end, stream_timeout);
}

}  // namespace strellix::cli
