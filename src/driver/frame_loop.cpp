#include "driver/frame_loop.h"

#include <algorithm>
#include <utility>

#include "colour/model_space.h"
#include "driver/console.h"
#include "driver/display.h"
#include "driver/frame_outputs.h"
#include "io/frame_source.h"
#include "model/calibration_pass.h"
#include "model/model_store.h"
#include "model/segmentation.h"
#include "model/selective_update.h"
#include "model/settings.h"

namespace {

enum StretchEnd {
  STRETCH_DONE,            // range done, or a frame missing: the run goes on
  STRETCH_ESCAPE,          // ESC in the input window
  STRETCH_UNUSABLE_FRAME,  // a frame exists but cannot be used
};

constexpr int ESC_KEY = 27;

// Frame k of the input, converted into frame_planes; the status tells why
// no frame came back.
cv::Mat read_loop_frame(RunState& run, long long k, GrabStatus& status) {
  status = GRAB_OK;
  const std::string name = frame_file_name(run.names.prefix, k);
  cv::Mat frame =
      grab_frame(run.settings.video, &run.capture, 1, name, run.W, run.H, &status);
  if (!frame.empty()) frame_to_model(frame, static_cast<int>(run.N), run.buffers.frame_planes);
  return frame;
}

// Shows a video frame in the input window and returns the key, or -1.
int show_input_frame(RunState& run, const cv::Mat& frame) {
  show_in_window(run.names.base, frame);
  return wait_window_key(display_delay_ms);
}

float calibration_rate(const RunState& run, long long t) {
  const double a = run.rate_a;
  const double b = run.rate_b;
  const double step = static_cast<double>(t) * (a - b) / static_cast<double>(run.settings.n - 1);
  return static_cast<float>(a - step);
}

StretchEnd run_calibration_stretch(RunState& run) {
  const RunSettings& s = run.settings;
  RunBuffers& b = run.buffers;
  const long long last = std::min<long long>(s.n, range_size(s));
  for (long long t = 1; t < last; ++t) {
    const long long k = frame_number(s, t);
    console_print(" %lld ", k);
    GrabStatus status;
    cv::Mat frame = read_loop_frame(run, k, status);
    if (frame.empty()) {
      if (status == GRAB_UNUSABLE) return STRETCH_UNUSABLE_FRAME;
      console_print("ATTENTION: Cannot grab file %s", frame_file_name(run.names.prefix, k).c_str());
      return STRETCH_DONE;
    }
    scale_matrix(s.width_2d, calibration_rate(run, t), b.kernel_2d, b.rate_kernel_2d);
    calibration_pass(b.frame_planes, run.H, run.W, b.bg_model, b.seg_mask, b.rate_kernel_2d, s.n,
                     s.width_2d, calibration_threshold);
    if (s.video) show_input_frame(run, frame);  // keys are ignored while calibrating
    frame.release();
    write_frame_outputs(run, b.seg_mask, k);
  }
  return STRETCH_DONE;
}

StretchEnd run_online_stretch(RunState& run) {
  const RunSettings& s = run.settings;
  RunBuffers& b = run.buffers;
  const long long last_t = static_cast<long long>(s.end) - s.ini;
  for (long long t = s.n; t <= last_t; ++t) {
    const long long k = frame_number(s, t);
    console_print(" %lld ", k);
    GrabStatus status;
    cv::Mat frame = read_loop_frame(run, k, status);
    if (frame.empty()) return status == GRAB_UNUSABLE ? STRETCH_UNUSABLE_FRAME : STRETCH_DONE;
    segment_frame(b.frame_planes, run.H, run.W, b.bg_model, b.seg_mask, s.n, s.e, b.match_index);
    coherence_filter(run.H, run.W, b.seg_mask, b.filtered_mask);
    selective_update(b.frame_planes, run.H, run.W, b.bg_model, b.filtered_mask, b.rate_kernel_2d,
                     s.width_2d, b.match_index);
    if (s.video) {
      const int key = show_input_frame(run, frame);
      if (key >= 0 && (key & 0xFF) == ESC_KEY) return STRETCH_ESCAPE;
    }
    frame.release();
    write_frame_outputs(run, b.filtered_mask, k);
    // This frame's filtered labels are where the next frame is segmented.
    std::swap(b.seg_mask, b.filtered_mask);
  }
  return STRETCH_DONE;
}

}  // namespace

int run_frame_loop(RunState& run) {
  if (run_calibration_stretch(run) == STRETCH_UNUSABLE_FRAME) return 5;
  if (run_online_stretch(run) == STRETCH_UNUSABLE_FRAME) return 5;
  return 0;
}
