#include "cli/run_outputs.h"

#include <cerrno>
#include <cstring>

#include "cli/command_failure.h"
#include "cli/output_dir.h"
#include "cli/overlay.h"
#include "io/atomic_file.h"

namespace strellix::cli {

namespace {

constexpr double default_frame_rate = 25.0;

void open_or_fail(VideoOutput& video, const std::string& path, cv::Size size, double rate, bool colour) {
  if (!video.open(path, size, rate, colour))
    throw CommandFailure(EXIT_OUTPUT,
                         "cannot write the video " + path + ": the video library has no encoder for it");
}

}  // namespace

std::string write_failure(const std::string& path, int error) {
  return "cannot write " + path + ": " +
         (error != 0 ? std::strerror(error) : "the image could not be encoded");
}

void RunOutputs::open_videos(cv::Size size, double input_frame_rate) {
  const double rate = o_.fps > 0.0 ? o_.fps : input_frame_rate > 0.0 ? input_frame_rate : default_frame_rate;
  if (!o_.mask_video.empty()) open_or_fail(mask_video_, output_path(o_, o_.mask_video), size, rate, false);
  if (!o_.overlay.empty()) open_or_fail(overlay_, output_path(o_, o_.overlay), size, rate, true);
}

bool RunOutputs::add_frame(long long number, const cv::Mat& frame, const cv::Mat& mask) {
  if (failed()) return false;
  if (!o_.no_masks && !save(mask_file_name(number), mask)) return false;
  add_video_frame(frame, mask);
  return true;
}

void RunOutputs::add_video_frame(const cv::Mat& frame, const cv::Mat& mask) {
  mask_video_.write(mask);
  if (overlay_.is_open()) overlay_.write(tinted_overlay(frame, mask));
}

void RunOutputs::write_seed(const cv::Mat& image) {
  save(BACKGROUND_FILE, image);
}

void RunOutputs::write_rendering(long long number, const cv::Mat& image) {
  save(rendering_file_name(number), image);
}

void RunOutputs::finish_videos() {
  for (VideoOutput* video : {&mask_video_, &overlay_}) {
    if (!video->is_open()) continue;
    const std::string path = video->path();
    if (!video->finish()) note_failure(write_failure(path, errno));
  }
}

std::string RunOutputs::failure() const {
  std::lock_guard<std::mutex> hold(failure_lock_);
  return failure_;
}

void RunOutputs::note_failure(const std::string& message) {
  std::lock_guard<std::mutex> hold(failure_lock_);
  if (failure_.empty()) failure_ = message;
  failed_.store(true);
}

// Nothing more is written once a write has failed.
bool RunOutputs::save(const std::string& name, const cv::Mat& image) {
  if (failed()) return false;
  const std::string path = output_path(o_, name);
  if (save_image_atomic(path, image)) return true;
  note_failure(write_failure(path, errno));
  return false;
}

}  // namespace strellix::cli
