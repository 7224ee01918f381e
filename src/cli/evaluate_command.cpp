#include "cli/evaluate_command.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/command_failure.h"
#include "cli/evaluate_metrics.h"
#include "cli/name_pattern.h"
#include "cli/number_options.h"

namespace strellix::cli {

namespace {

namespace fs = std::filesystem;

constexpr long long MAX_FRAME_NUMBER = 999999999;

// temporalROI.txt lives in the sequence directory, the parent of GROUNDTRUTH.
std::string temporal_roi_path(const std::string& truth_dir) {
  fs::path dir = fs::path(truth_dir).lexically_normal();
  if (dir.filename().empty()) dir = dir.parent_path();
  return (dir.parent_path() / "temporalROI.txt").string();
}

bool read_temporal_roi(const std::string& path, long long* first, long long* last) {
  std::ifstream in(path);
  long long a = 0, b = 0;
  if (!(in >> a >> b) || a < 0 || b < 0) return false;
  *first = a;
  *last = b;
  return true;
}

cv::Mat read_image(const std::string& path, int flags) {
  std::error_code error;
  if (!fs::exists(path, error)) return cv::Mat();
  try {
    return cv::imread(path, flags);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

// The frame range: the options, completed from temporalROI.txt.
void settle_range(const EvaluateOptions& o, long long& first, long long& last) {
  first = o.first.value_or(-1);
  last = o.last.value_or(-1);
  if (first < 0 || last < 0) {
    long long roi_first = 0, roi_last = 0;
    const std::string roi_file = temporal_roi_path(o.truth_dir);
    if (!read_temporal_roi(roi_file, &roi_first, &roi_last))
      throw usage_error("no frame range: give --first and --last, or provide " + roi_file);
    if (first < 0) first = roi_first;
    if (last < 0) last = roi_last;
  }
  if (last < first)
    throw usage_error("empty frame range " + std::to_string(first) + "-" + std::to_string(last));
}

cv::Mat read_region_of_interest(const std::string& path) {
  if (path.empty()) return cv::Mat();
  const cv::Mat image = read_image(path, cv::IMREAD_UNCHANGED);
  if (image.empty()) throw input_error("cannot read the region of interest " + path);
  return nonzero_anywhere(image);
}

std::string size_text(const cv::Mat& image) {
  return std::to_string(image.cols) + "x" + std::to_string(image.rows);
}

}  // namespace

CLI::App* add_evaluate_command(CLI::App& app, EvaluateOptions& o) {
  CLI::App* command = app.add_subcommand(
      "evaluate", "Score masks against a ground truth: the seven change-detection metrics");
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
                   "First frame scored (default: from temporalROI.txt beside GROUNDTRUTH)");
  add_whole_number(*command, "--last", o.last, 0, MAX_FRAME_NUMBER,
                   "Last frame scored (default: from temporalROI.txt beside GROUNDTRUTH)");
  command->add_option("--mask-pattern", o.mask_pattern, "Names of the mask files, one %d field")
      ->capture_default_str()
      ->type_name("PATTERN");
  command->add_option("--gt-pattern", o.truth_pattern, "Names of the ground-truth files, one %d field")
      ->capture_default_str()
      ->type_name("PATTERN");
  command->add_flag("--json", o.json, "Print the counts and metrics as one JSON object");
  command->footer(
      "A mask file that is missing is scored as all background (and counted on standard error).\n"
      "Counts are summed over the frames before the ratios are taken; a ratio with nothing to count\n"
      "is printed as nan (null in JSON).\n"
      "Exit codes: 0 scored; 1 a ground truth, mask or region of interest cannot be read or has\n"
      "another size; 2 a usage error.");
  return command;
}

int run_evaluate(const EvaluateOptions& o) {
  NamePattern truth_pattern, mask_pattern;
  if (!parse_name_pattern(o.truth_pattern, &truth_pattern) ||
      !parse_name_pattern(o.mask_pattern, &mask_pattern))
    throw usage_error("a name pattern needs exactly one %d field (such as %06d)");
  long long first = 0, last = 0;
  settle_range(o, first, last);
  cv::Mat roi = read_region_of_interest(o.roi_path);

  ScoreCounts counts;
  long long missing_masks = 0;
  bool roi_size_checked = false;
  for (long long k = first; k <= last; ++k) {
    const std::string truth_path = (fs::path(o.truth_dir) / format_name(truth_pattern, k)).string();
    const cv::Mat truth = read_image(truth_path, cv::IMREAD_GRAYSCALE);
    if (truth.empty()) throw input_error("cannot read the ground truth " + truth_path);
    if (!roi_size_checked) {
      roi_size_checked = true;
      if (!roi.empty() && roi.size() != truth.size()) {
        std::fprintf(stderr,
                     "strellix evaluate: warning: %s is %s, the frames are %s; scoring the whole frame\n",
                     o.roi_path.c_str(), size_text(roi).c_str(), size_text(truth).c_str());
        roi.release();
      }
    }
    const std::string mask_path = (fs::path(o.mask_dir) / format_name(mask_pattern, k)).string();
    cv::Mat positive;
    std::error_code error;
    if (!fs::exists(mask_path, error)) {
      ++missing_masks;  // scored as all background
    } else {
      const cv::Mat mask = read_image(mask_path, cv::IMREAD_UNCHANGED);
      if (mask.empty()) throw input_error("cannot read the mask " + mask_path);
      if (mask.size() != truth.size())
        throw input_error(mask_path + " is " + size_text(mask) + ", its ground truth " + size_text(truth));
      positive = nonzero_anywhere(mask);
    }
    const cv::Mat inside = roi.size() == truth.size() ? roi : cv::Mat();
    add_scored_frame(truth, positive, inside, counts);
  }
  if (missing_masks > 0)
    std::fprintf(stderr, "strellix evaluate: %lld of %lld mask files missing, scored as background\n",
                 missing_masks, last - first + 1);
  const std::string report =
      o.json ? scores_json(counts, first, last, missing_masks) : scores_text(counts, first, last);
  std::fputs(report.c_str(), stdout);
  return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_OUTPUT;
}

}  // namespace strellix::cli
