#include "driver/init_phase.h"

#include "driver/console.h"
#include "driver/frame_outputs.h"
#include "driver/initial_background.h"
#include "driver/output_writer.h"
#include "io/frame_source.h"

namespace strellix {

namespace {

// Loads "InitialModel.png" from the sequence's directory, always as a file,
// also for video input. It must have the frames' size.
cv::Mat load_initial_background(RunState& run) {
  const std::string name = initial_model_name(run.names.dir);
  console_print("    reading estimated background %s...\n", name.c_str());
  const FrameRead read = grab_frame(0, &run.capture, run.settings.skip, name, run.W, run.H);
  if (!read.error.empty()) print_standard_error(program_note(read.error));
  if (read.frame.empty()) console_print("ATTENTION: Cannot grab file %s", name.c_str());
  return read.frame;
}

cv::Mat compute_initial_background(RunState& run) {
  const RunSettings& s = run.settings;
  console_print("    computing the median over %d initial frames...\n", s.F);
  cv::Mat image =
      median_background(s.ini, s.F, s.video, s.skip, run.names.prefix, run.W, run.H, run.engine->execution());
  if (!image.empty()) save_run_image(run, initial_model_name(run.names.dir), image);
  return image;
}

}  // namespace

int run_init_phase(RunState& run) {
  console_print("(1) model initialization ...\n");
  cv::Mat initial = run.settings.Boot ? load_initial_background(run) : compute_initial_background(run);
  if (initial.empty()) return 1;
  run.engine->initialize_background(initial);
  initial.release();

  // Frame ini only fixes the picture: its labels stay background, so its
  // mask is black; it is written whatever -SmaskMOD says.
  run.engine->apply(run.first_frame);
  run.first_frame.release();
  run.mask_image = cv::Mat::zeros(run.H, run.W, CV_8UC1);
  save_mask_of_frame(run, run.engine->labels(), run.settings.ini);
  return 0;
}

}  // namespace strellix
