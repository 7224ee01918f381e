#include "cli/shared_options.h"

#include <climits>

#include "cli/input_source.h"
#include "cli/number_options.h"

namespace strellix::cli {

void add_model_options(CLI::App& c, Parameters& p, std::string& background_file) {
  const std::string model = "Model";
  add_whole_number(c, "--layers", p.layers, 1, INT_MAX, "Candidate background colours per pixel")
      ->group(model);
  add_whole_number(c, "--width-1d", p.width_1d, 0, 3, "Half-width of the update across layers (0-3)")
      ->group(model);
  add_whole_number(c, "--width-2d", p.width_2d, 0, 4, "Half-width of the update's image neighbourhood (0-4)")
      ->group(model);
  add_real_number(c, "--threshold", p.threshold, 0.0, 1000.0, "Segmentation threshold, a squared distance")
      ->group(model);
  add_real_number(c, "--learning-rate", p.learning_rate, 0.0, 1.0, "Learning rate of the model updates")
      ->group(model);
  add_whole_number(c, "--median-frames", p.median_frames, 1, INT_MAX,
                   "Frames whose temporal median seeds the model")
      ->group(model);
  c.add_option("--background", background_file, "Seed the model from this image instead of the median")
      ->type_name("FILE")
      ->group(model);
  add_whole_number(c, "--threads", p.threads, 0, 1024, "Worker threads; 0: one per core")->group(model);
}

void add_frame_range_options(CLI::App& c, std::optional<long long>& start, std::optional<long long>& end) {
  const std::string range = "Frames";
  add_whole_number(c, "--start", start, -MAX_FRAME_NUMBER, MAX_FRAME_NUMBER,
                   "First frame (its number for a pattern, its place from 1 otherwise) [default: the first]")
      ->group(range);
  add_whole_number(c, "--end", end, -MAX_FRAME_NUMBER, MAX_FRAME_NUMBER,
                   "Last frame, inclusive [default: until the input ends]")
      ->group(range);
}

}  // namespace strellix::cli
