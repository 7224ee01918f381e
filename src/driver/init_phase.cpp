#include "driver/init_phase.h"

#include "colour/model_space.h"
#include "driver/console.h"
#include "driver/frame_outputs.h"
#include "driver/initial_background.h"
#include "io/frame_source.h"
#include "io/plane_set.h"
#include "model/model_store.h"
#include "model/settings.h"

namespace strellix {

namespace {

// Loads "InitialModel.png" from the sequence's directory, always as a file,
// also for video input. It must have the frames' size.
cv::Mat load_initial_background(RunState& run) {
  const std::string name = initial_model_name(run.names.dir);
  console_print("    reading estimated background %s...\n", name.c_str());
  cv::Mat image = grab_frame(0, &run.capture, run.settings.skip, name, run.W, run.H);
  if (image.empty()) console_print("ATTENTION: Cannot grab file %s", name.c_str());
  return image;
}

cv::Mat compute_initial_background(RunState& run) {
  const RunSettings& s = run.settings;
  console_print("    computing the median over %d initial frames...\n", s.F);
  cv::Mat image = median_background(s.ini, s.F, s.video, s.skip, run.names.prefix, run.W, run.H);
  if (!image.empty()) save_run_image(run, initial_model_name(run.names.dir), image);
  return image;
}

void set_calibration_rates(RunState& run) {
  const double a = 1.0 / (run.settings.width_2d + 1);
  run.rate_a = static_cast<float>(a);
  run.rate_b = static_cast<float>(a * static_cast<double>(run.settings.lr));
}

// Items 5 to 12 of the run's storage, in their fixed order.
void allocate_phase2_buffers(RunState& run) {
  RunBuffers& b = run.buffers;
  const int w2 = run.settings.width_2d;
  kernel_1d = make_kernel_1d(run.settings.width_1d, 0);
  b.kernel_2d = make_kernel_2d(w2, 0);
  b.rate_kernel_2d = alloc_float_planes(w2, static_cast<std::size_t>(w2));
  b.render_rgb_planes = alloc_byte_planes(3, run.N);
  b.render_planes = alloc_float_planes(3, run.N);
  b.filtered_mask = static_cast<unsigned char*>(checked_calloc(run.N, 1));
  b.match_index = static_cast<int*>(checked_calloc(run.N, sizeof(int)));
  b.mask_image = cv::Mat::zeros(run.H, run.W, CV_8UC1);
}

}  // namespace

int run_init_phase(RunState& run) {
  RunBuffers& b = run.buffers;
  console_print("(1) model initialization ...\n");
  cv::Mat initial = run.settings.Boot ? load_initial_background(run) : compute_initial_background(run);
  if (initial.empty()) return 1;

  frame_to_model(initial, static_cast<int>(run.N), b.frame_planes);
  seed_model(b.bg_model, b.frame_planes, run.N, run.settings.n);
  initial.release();

  set_calibration_rates(run);
  allocate_phase2_buffers(run);
  // seg_mask is still all background, so this mask is black; it is written
  // whatever -SmaskMOD says.
  save_mask_of_frame(run, b.seg_mask, run.settings.ini);
  scale_matrix(run.settings.width_2d, run.rate_b, b.kernel_2d, b.rate_kernel_2d);
  return 0;
}

}  // namespace strellix
