// The frames of a run, from its first frame to the end of its range,
// whatever the input: numbered image files, a directory of images, a video
// file, a camera or a stream.
#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/input_location.h"
#include "io/frame_source.h"

namespace strellix::cli {

// Frame numbers and places stay within +-10^15, so that no count or
// difference of them can overflow.
constexpr long long MAX_FRAME_NUMBER = 1000000000000000LL;

class InputSource {
 public:
  virtual ~InputSource() = default;

  // The next frame of the run as 8-bit BGR, with its number: GRAB_OK;
  // GRAB_MISSING at the end of the range or of the input; GRAB_UNUSABLE
  // with a message naming the frame (undecodable, another size than the
  // first, a file that went away).
  virtual FrameRead read(long long& number) = 0;

  // Passes over the next `count` frames, without decoding them where the
  // input allows; false when the input ends first.
  virtual bool skip(long long count) = 0;

  // Frames from the first of the run to its end, -1 when unknown.
  virtual long long total() const = 0;

  // Frames per second of a video or stream, 0 when it has none.
  virtual double frame_rate() const { return 0.0; }

  // Once read() has found the end: why the input ended before the end of
  // its range, "" when it ended where it should have. A video that gives
  // fewer frames than its container declares, or a stream that sent
  // nothing for the time-out, ended early.
  virtual std::string ended_early() const { return ""; }
  // The image files the run reads, in order, for inputs made of them;
  // empty for videos, cameras and streams.
  virtual std::vector<std::string> files() const { return {}; }

  // The number the first frame of the run has.
  long long first_number() const { return first_number_; }

  // From now on a frame of another size is refused (the first frame read
  // fixes it, or a checkpoint does).
  void expect_size(cv::Size size) { expected_ = size; }

 protected:
  long long first_number_ = 1;
  cv::Size expected_;
};

// Opens the input and goes to the first frame of the range [start, end]
// (frame numbers for a pattern, 1-based places otherwise; unset: from the
// first frame there is, to the end of the input). A stream that does not
// open, or sends no frame, within `stream_timeout` seconds is given up.
// Throws CommandFailure with EXIT_NO_INPUT when the input cannot be opened
// (saying why, as far as can be found out) or does not reach `start`, and
// EXIT_USAGE for a place below 1.
std::unique_ptr<InputSource> open_input(const InputLocation& location, const std::optional<long long>& start,
                                        const std::optional<long long>& end,
                                        double stream_timeout = DEFAULT_STREAM_TIMEOUT);

// The two families, for open_input.
std::unique_ptr<InputSource> open_image_files(const InputLocation& location,
                                              const std::optional<long long>& start,
                                              const std::optional<long long>& end);
std::unique_ptr<InputSource> open_video_input(const InputLocation& location, long long start,
                                              const std::optional<long long>& end, double stream_timeout);

// "INPUT has no frame to read", with what can be found out about a stream
// that opened but gave nothing.
std::string no_frame_message(const InputLocation& location, double stream_timeout);

}  // namespace strellix::cli
