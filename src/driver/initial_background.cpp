#include "driver/initial_background.h"

#include <opencv2/videoio.hpp>

#include "driver/console.h"
#include "driver/seq_names.h"
#include "io/frame_source.h"
#include "io/plane_convert.h"
#include "io/plane_set.h"
#include "model/temporal_median.h"

namespace strellix {

namespace {

// Reads frame k of the median; an empty result has already been reported.
cv::Mat read_median_frame(int video, cv::VideoCapture& capture, int count, const std::string& name,
                          int want_width, int want_height) {
  GrabStatus status = GRAB_OK;
  cv::Mat frame = grab_frame(video, &capture, count, name, want_width, want_height, &status);
  if (frame.empty() && status != GRAB_UNUSABLE) {
    console_print("Unable to read expected file %s\n", name.c_str());
  }
  return frame;
}

}  // namespace

cv::Mat median_background(int first_number, int frame_count, int video, int skip,
                          const std::string& seq_prefix, int want_width, int want_height) {
  cv::VideoCapture capture;
  // A failed open is reported, and shows up as a missing first frame.
  if (video) open_video(capture, video_file_name(seq_prefix));

  std::string name = frame_file_name(seq_prefix, first_number);
  cv::Mat first = read_median_frame(video, capture, skip, name, want_width, want_height);
  if (first.empty()) return cv::Mat();
  // The result keeps the first frame's header; every pixel is replaced.
  cv::Mat result = first.clone();
  const std::size_t pixel_count = static_cast<std::size_t>(result.cols) * result.rows;
  const int pixels = static_cast<int>(pixel_count);

  PlaneSet<unsigned char> scratch = alloc_byte_planes(3, pixel_count);
  FrameStore* store = alloc_frame_store(frame_count, pixel_count);
  image_to_planes(first, pixels, scratch);
  store_frame(store, 0, scratch);
  first.release();

  bool complete = true;
  for (int k = 1; k < frame_count; ++k) {
    // Named also in video mode, where the name serves only the message.
    name = frame_file_name(seq_prefix, static_cast<long long>(first_number) + k);
    cv::Mat frame = read_median_frame(video, capture, 1, name, want_width, want_height);
    if (frame.empty()) {
      complete = false;
      break;
    }
    image_to_planes(frame, pixels, scratch);
    store_frame(store, k, scratch);
  }

  if (complete) {
    PlaneSet<unsigned char> median = alloc_byte_planes(3, pixel_count);
    compute_median(store, median);
    planes_to_image(median, pixels, result);
    free_planes(median, 3);
  } else {
    result.release();
  }
  free_frame_store(store);
  free_planes(scratch, 3);
  capture.release();
  return result;
}

}  // namespace strellix
