#include "cli/evaluate_command.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>

#include "cli/command_failure.h"
#include "cli/evaluate_metrics.h"
#include "cli/evaluate_range.h"
#include "cli/name_pattern.h"
#include "cli/number_options.h"

namespace strellix::cli {

namespace {

namespace fs = std::filesystem;

constexpr long long MAX_FRAME_NUMBER = 999999999;

cv::Mat read_image(const std::string& path, int flags) {
  std::error_code error;
  if (!fs::exists(path, error)) return cv::Mat();
  try {
    return cv::imread(path, flags);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

cv::Mat read_region_of_interest(const std::string& path) {
  if (path.empty()) return cv::Mat();
  const cv::Mat image = read_image(path, cv::IMREAD_UNCHANGED);
  if (image.empty()) throw input_error("cannot read the region of interest " + path);
  return nonzero_anywhere(image);
}

// --within FIRST-LAST: two frame numbers, the first not after the last.
void add_within_option(CLI::App& command, std::optional<FrameRange>& within) {
  command
      .add_option_function<std::string>(
          "--within",
          [&within](const std::string& text) {
            const std::size_t dash = text.find('-');
            if (dash == std::string::npos)
              throw CLI::ValidationError("--within",
                                         "needs FIRST-LAST, such as 470-1700, not \"" + text + "\"");
            FrameRange r;
            r.first = read_whole_number("--within", text.substr(0, dash), 0, MAX_FRAME_NUMBER);
            r.last = read_whole_number("--within", text.substr(dash + 1), 0, MAX_FRAME_NUMBER);
            if (r.last < r.first)
              throw CLI::ValidationError("--within",
                                         "needs FIRST-LAST with FIRST not after LAST, not \"" + text + "\"");
            within = r;
          },
          "Score only frames in this range, FIRST-LAST (the frames a run segmented)")
      ->type_name("RANGE");
}

std::string size_text(const cv::Mat& image) {
  return std::to_string(image.cols) + "x" + std::to_string(image.rows);
}

// Every warning goes to standard error at once and into the report, so
// that a caller reading only the JSON sees it too.
void warn(ScoreReport& report, const std::string& text) {
  std::fprintf(stderr, "strellix evaluate: warning: %s\n", text.c_str());
  report.warnings.push_back(text);
}

// A mask directory that is not there would otherwise score every frame as
// background; missing masks in it are refused unless the caller asked to
// score them as background. Checked before any image is read.
long long count_missing_masks(const EvaluateOptions& o, const NamePattern& pattern, const FrameRange& range) {
  std::error_code error;
  if (!fs::is_directory(o.mask_dir, error))
    throw input_error(fs::exists(o.mask_dir, error)
                          ? o.mask_dir + " is not a directory"
                          : "the masks directory " + o.mask_dir + " does not exist");
  long long missing = 0;
  std::string first_missing;
  for (long long k = range.first; k <= range.last; ++k) {
    const std::string path = (fs::path(o.mask_dir) / format_name(pattern, k)).string();
    if (fs::exists(path, error)) continue;
    if (missing++ == 0) first_missing = path;
  }
  if (missing > 0 && !o.missing_as_background)
    throw input_error(std::to_string(missing) + " of the " + std::to_string(range.last - range.first + 1) +
                      " masks of frames " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                      " are missing, the first " + first_missing +
                      "; --missing-as-background scores a missing mask as all background");
  return missing;
}

// The region of interest applies when it has the frames' size; one of
// another size is left out with a warning (the data sets ship some).
void check_roi_size(cv::Mat& roi, const cv::Mat& truth, const std::string& roi_path, ScoreReport& report) {
  if (roi.empty() || roi.size() == truth.size()) return;
  warn(report, roi_path + " is " + size_text(roi) + ", the frames are " + size_text(truth) +
                   "; scoring the whole frame");
  roi.release();
}

// One frame's counts; a mask that is absent counts as all background.
ScoreCounts score_frame(const EvaluateOptions& o, const NamePattern& mask_pattern, const cv::Mat& truth,
                        const cv::Mat& roi, long long k) {
  const std::string mask_path = (fs::path(o.mask_dir) / format_name(mask_pattern, k)).string();
  cv::Mat moving;
  std::error_code error;
  if (fs::exists(mask_path, error)) {
    const cv::Mat mask = read_image(mask_path, cv::IMREAD_UNCHANGED);
    if (mask.empty()) throw input_error("cannot read the mask " + mask_path);
    if (mask.size() != truth.size())
      throw input_error(mask_path + " is " + size_text(mask) + ", its ground truth " + size_text(truth));
    moving = moving_pixels(
        mask, o.shadow_value ? std::optional<int>(static_cast<int>(*o.shadow_value)) : std::nullopt);
  }
  ScoreCounts counts;
  add_scored_frame(truth, moving, roi, counts);
  return counts;
}

}  // namespace

CLI::App* add_evaluate_command(CLI::App& app, EvaluateOptions& o) {
  CLI::App* command = app.add_subcommand(
      "evaluate",
      "Score masks against a ground truth: the seven change-detection metrics and the shadow error rate");
  command->add_option("MASKS", o.mask_dir, "Directory of the masks (as `strellix segment` writes them)")
      ->required()
      ->type_name("DIR");
  command
      ->add_option("GROUNDTRUTH", o.truth_dir,
                   "Directory of the ground-truth images (255 object, 0 static, 50 shadow, 85 and 170 "
                   "not scored)")
      ->required()
      ->type_name("DIR");
  command->add_option("--roi", o.roi_path, "Region of interest: pixels where this image is 0 are not scored")
      ->type_name("FILE");
  add_whole_number(*command, "--first", o.first, 0, MAX_FRAME_NUMBER,
                   "First frame scored (default: see below)");
  add_whole_number(*command, "--last", o.last, 0, MAX_FRAME_NUMBER, "Last frame scored (default: see below)");
  add_within_option(*command, o.within);
  command->add_option("--mask-pattern", o.mask_pattern, "Names of the mask files, one %d field")
      ->capture_default_str()
      ->type_name("PATTERN");
  command->add_option("--gt-pattern", o.truth_pattern, "Names of the ground-truth files, one %d field")
      ->capture_default_str()
      ->type_name("PATTERN");
  add_whole_number(*command, "--shadow-value", o.shadow_value, 1, 254,
                   "Mask pixels of this value are shadow: scored as background (127 for masks that mark "
                   "shadows as OpenCV's subtractors do)");
  command->add_flag("--missing-as-background", o.missing_as_background,
                    "Score a missing mask file as all background instead of failing");
  command->add_flag("--per-frame", o.per_frame, "Add each frame's counts to the report");
  command->add_flag("--json", o.json, "Print the counts and metrics as one JSON object");
  command->footer(
      "Frames scored: --first to --last; an end left out is taken from the frames that temporalROI.txt\n"
      "(beside GROUNDTRUTH) names and that have a ground-truth file, so an excerpt of a sequence scores\n"
      "as it is; --within cuts the range to the frames a run segmented. The shadow error rate is the\n"
      "share of ground-truth shadow pixels (50) that the masks call moving. A region of interest of\n"
      "another size than the frames is left out with a warning (the whole frame is scored). Counts are\n"
      "summed over the frames before the ratios are taken; a ratio with nothing to count is printed as\n"
      "nan (null in JSON).\n"
      "Exit codes: 0 scored (warnings on standard error and in the JSON); 1 a mask is missing, or a\n"
      "ground truth, mask, region of interest or temporalROI.txt cannot be read or has another size;\n"
      "2 a usage error.");
  return command;
}

int run_evaluate(const EvaluateOptions& o) {
  NamePattern truth_pattern, mask_pattern;
  if (!parse_name_pattern(o.truth_pattern, &truth_pattern) ||
      !parse_name_pattern(o.mask_pattern, &mask_pattern))
    throw usage_error("a name pattern needs exactly one %d field (such as %06d)");
  const FrameRange range =
      scored_frames(o.first, o.last, o.within, o.truth_dir, o.truth_pattern, truth_pattern);
  cv::Mat roi = read_region_of_interest(o.roi_path);
  ScoreReport report;
  report.first = range.first;
  report.last = range.last;
  report.missing_masks = count_missing_masks(o, mask_pattern, range);
  if (report.missing_masks > 0)
    warn(report, std::to_string(report.missing_masks) + " of " +
                     std::to_string(range.last - range.first + 1) +
                     " mask files missing, scored as background");
  for (long long k = range.first; k <= range.last; ++k) {
    const std::string truth_path = (fs::path(o.truth_dir) / format_name(truth_pattern, k)).string();
    const cv::Mat truth = read_image(truth_path, cv::IMREAD_GRAYSCALE);
    if (truth.empty()) throw input_error("cannot read the ground truth " + truth_path);
    if (k == range.first) check_roi_size(roi, truth, o.roi_path, report);
    const cv::Mat inside = roi.size() == truth.size() ? roi : cv::Mat();
    const ScoreCounts counts = score_frame(o, mask_pattern, truth, inside, k);
    report.total += counts;
    if (o.per_frame) report.frames.push_back({k, counts});
  }
  const std::string text = o.json ? scores_json(report) : scores_text(report);
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_OUTPUT;
}

}  // namespace strellix::cli
