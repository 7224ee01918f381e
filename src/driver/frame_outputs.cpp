#include "driver/frame_outputs.h"

#include "colour/plane_convert.h"
#include "driver/display.h"
#include "io/atomic_file.h"
#include "io/pnm.h"

namespace strellix {

static void note_unwritten(RunState& run, const std::string& path) {
  print_standard_error(unwritten_note(path));
  run.output_failed = true;
}

void save_run_image(RunState& run, const std::string& path, const cv::Mat& image) {
  if (!save_image_atomic(path, image)) note_unwritten(run, path);
}

void save_mask_of_frame(RunState& run, const unsigned char* labels, long long k) {
  labels_to_image(labels, static_cast<int>(run.N), run.mask_image);
  save_run_image(run, mask_file_name(k), run.mask_image);
}

static void write_rendering(RunState& run, long long k, OutputWriter* writer) {
  const PlaneSet<unsigned char> rgb = run.engine->render();
  const std::string path = rendering_file_name(run.names.base, k);
  if (writer != nullptr) wait_until_written(*writer);
  // write_ppm reports the failed open on standard output itself.
  if (!write_ppm(run.H, run.W, rgb, path)) note_unwritten(run, path);
}

void write_frame_outputs(RunState& run, const unsigned char* labels, long long k, OutputWriter* writer) {
  const RunSettings& s = run.settings;
  cv::Mat& mask_image = run.mask_image;
  if (s.SmaskMOD || s.ShowMask) {
    labels_to_image(labels, static_cast<int>(run.N), mask_image);
    if (s.SmaskMOD && writer != nullptr)
      queue_image(*writer, mask_file_name(k), mask_image.clone());
    else if (s.SmaskMOD)
      save_run_image(run, mask_file_name(k), mask_image);
    if (s.ShowMask) {
      show_in_window("Output", mask_image);
      wait_window_key(display_delay_ms);  // keys here are deliberately ignored
    }
  }
  if (s.SmodBG) write_rendering(run, k, writer);
}

}  // namespace strellix
