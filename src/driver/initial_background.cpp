#include "driver/initial_background.h"

#include <opencv2/videoio.hpp>

#include "driver/console.h"
#include "driver/output_writer.h"
#include "driver/seq_names.h"
#include "engine/median_builder.h"
#include "io/frame_source.h"

namespace strellix {

namespace {

// Reads frame k of the median; an empty result has been reported.
cv::Mat read_median_frame(int video, cv::VideoCapture& capture, int count, const std::string& name,
                          int want_width, int want_height) {
  const FrameRead read = grab_frame(video, &capture, count, name, want_width, want_height);
  if (!read.error.empty()) print_standard_error(program_note(read.error));
  if (read.frame.empty() && read.status != GRAB_UNUSABLE) {
    console_print("Unable to read expected file %s\n", name.c_str());
  }
  return read.frame;
}

}  // namespace

cv::Mat median_background(int first_number, int frame_count, int video, int skip,
                          const std::string& seq_prefix, int want_width, int want_height,
                          const PassExecution& run) {
  cv::VideoCapture capture;
  // A failed open is reported, and shows up as a missing first frame.
  std::string error;
  if (video && !open_video(capture, video_file_name(seq_prefix), error))
    print_standard_error(program_note(error));

  std::string name = frame_file_name(seq_prefix, first_number);
  cv::Mat frame = read_median_frame(video, capture, skip, name, want_width, want_height);
  if (frame.empty()) return cv::Mat();
  MedianBuilder median(frame_count, frame.cols, frame.rows);
  median.add(frame);
  for (int k = 1; k < frame_count; ++k) {
    // Named also in video mode, where the name serves only the message.
    name = frame_file_name(seq_prefix, static_cast<long long>(first_number) + k);
    frame = read_median_frame(video, capture, 1, name, want_width, want_height);
    if (frame.empty()) return cv::Mat();
    median.add(frame);
  }
  return median.result(run);
}

}  // namespace strellix
