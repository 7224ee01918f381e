#include "cli/run_outputs.h"

#include <cstdio>

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

void RunOutputs::open_videos(cv::Size size, double input_frame_rate) {
  const double rate = o_.fps > 0.0 ? o_.fps : input_frame_rate > 0.0 ? input_frame_rate : default_frame_rate;
  if (!o_.mask_video.empty()) open_or_fail(mask_video_, output_path(o_, o_.mask_video), size, rate, false);
  if (!o_.overlay.empty()) open_or_fail(overlay_, output_path(o_, o_.overlay), size, rate, true);
}

void RunOutputs::add_frame(long long number, const cv::Mat& frame, const cv::Mat& mask) {
  if (!o_.no_masks) save(mask_file_name(number), mask);
  add_video_frame(frame, mask);
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
    if (!video->finish()) {
      std::fprintf(stderr, "strellix: cannot write %s\n", path.c_str());
      failed_ = true;
    }
  }
}

void RunOutputs::save(const std::string& name, const cv::Mat& image) {
  const std::string path = output_path(o_, name);
  if (save_image_atomic(path, image)) return;
  std::fprintf(stderr, "strellix: cannot write %s\n", path.c_str());
  failed_ = true;
}

}  // namespace strellix::cli
