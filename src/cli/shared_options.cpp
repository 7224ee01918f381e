#include "cli/shared_options.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "cli/input_source.h"
#include "cli/number_options.h"

namespace strellix::cli {

namespace {

// "(0-3)" for the help text of a bounded option.
std::string shown_range(const Range<int>& range) {
  return "(" + std::to_string(range.least) + "-" + std::to_string(range.most) + ")";
}

// A median filter has a centre and more than one pixel: 1 and even
// apertures are refused by name; text that is not a number in range is
// left to the number's own check.
const CLI::Validator odd_aperture(
    [](std::string& text) {
      char* end = nullptr;
      const long long k = std::strtoll(text.c_str(), &end, 10);
      const bool filter = k == 0 || (k >= 3 && k % 2 == 1);
      const bool in_range = k >= ranges::post_median.least && k <= ranges::post_median.most;
      if (end == text.c_str() || *end != '\0' || !in_range || filter) return std::string();
      return "--post-median " + text + ": the aperture must be odd, from 3 to " +
             std::to_string(ranges::post_median.most) + ", or 0 for none";
    },
    "");
// --numerics NAME: one of the library's names for its numeric modes.
CLI::Option* add_numerics_option(CLI::App& c, Numerics& numerics) {
  std::string names;
  for (const char* name : ranges::numerics) names += (names.empty() ? "" : "|") + std::string(name);
  return c
      .add_option_function<std::string>(
          "--numerics",
          [&numerics, names](const std::string& text) {
            try {
              numerics = numerics_named(text);
            } catch (const std::invalid_argument&) {
              throw CLI::ValidationError("--numerics", "needs one of " + names + ", not \"" + text + "\"");
            }
          },
          "Numeric mode: exact (the same masks on every machine and build) or fast (32-bit floats and "
          "data-parallel passes: several times faster, masks within a measured distance of exact)")
      ->type_name(names)
      ->default_str(numerics_name(numerics));
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
  add_numerics_option(c, p.numerics)->group(model);

  const std::string masks = "Masks";
  add_whole_number(c, "--shadow-value", p.shadow_value, ranges::shadow_value,
                   "Mask value on shadow " + shown_range(ranges::shadow_value) +
                       "; 0: background, 127: as OpenCV marks it")
      ->type_name("N")
      ->group(masks);
  add_whole_number(c, "--post-median", p.post_median, ranges::post_median,
                   "Median filter of the masks, K x K, K odd; 0: none")
      ->type_name("K")
      ->check(odd_aperture)
      ->group(masks);
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

// A stream that stalls must not hold a batch job until its own limit.
void add_stream_timeout_option(CLI::App& c, double& seconds) {
  add_real_number(c, "--stream-timeout", seconds, {0.1, 86400.0},
                  "Give up a stream that does not open, or sends no frame, for this many seconds")
      ->type_name("SECONDS")
      ->group("Frames");
}

}  // namespace strellix::cli
