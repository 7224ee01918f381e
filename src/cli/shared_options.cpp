#include "cli/shared_options.h"

#include <climits>

#include "cli/input_source.h"
#include "cli/number_options.h"

namespace strellix::cli {

namespace {

// "(0-3)" for the help text of a bounded option.
std::string shown_range(const Range<int>& range) {
  return "(" + std::to_string(range.least) + "-" + std::to_string(range.most) + ")";
}

}  // namespace

// Every range, and every default (the values `p` holds when the options are
// added), is the library's.
void add_model_options(CLI::App& c, Parameters& p, std::string& background_file) {
  const std::string model = "Model";
  add_whole_number(c, "--layers", p.layers, ranges::layers, "Candidate background colours per pixel")
      ->group(model);
  add_whole_number(c, "--width-1d", p.width_1d, ranges::width_1d,
                   "Half-width of the update across layers " + shown_range(ranges::width_1d))
      ->group(model);
  add_whole_number(c, "--width-2d", p.width_2d, ranges::width_2d,
                   "Half-width of the update's image neighbourhood " + shown_range(ranges::width_2d))
      ->group(model);
  add_real_number(c, "--threshold", p.threshold, ranges::threshold,
                  "Segmentation threshold, a squared distance")
      ->group(model);
  add_real_number(c, "--learning-rate", p.learning_rate, ranges::learning_rate,
                  "Learning rate of the model updates")
      ->group(model);
  add_whole_number(c, "--median-frames", p.median_frames, ranges::median_frames,
                   "Frames whose temporal median seeds the model")
      ->group(model);
  c.add_option("--background", background_file, "Seed the model from this image instead of the median")
      ->type_name("FILE")
      ->group(model);
  add_whole_number(c, "--threads", p.threads, ranges::threads, "Worker threads; 0: one per core")
      ->group(model);
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
