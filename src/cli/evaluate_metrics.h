// Scoring masks against ground-truth label images in the change-detection
// layout: ground truth 255 is positive, 0 and 50 (shadow) negative, any
// other label (85 outside the region of interest, 170 unknown motion) is
// not scored, and neither are pixels where the region-of-interest image is
// 0. A mask pixel is moving when it is nonzero, unless it carries the
// value the masks give shadows. Counts are summed over all frames before
// the ratios are taken.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

namespace strellix::cli {

struct ScoreCounts {
  long long tp = 0, fp = 0, tn = 0, fn = 0;
  // Hard-shadow pixels of the ground truth (label 50) scored, and those of
  // them the masks call moving: the shadow error rate's two counts.
  long long shadow = 0, shadow_moving = 0;
  ScoreCounts& operator+=(const ScoreCounts& other);
};

// Adds one frame: `truth` 8-bit labels; `moving` 8-bit, nonzero where the
// mask found an object (empty: a missing mask, all background); `inside`
// 8-bit, zero where nothing is scored (empty: everywhere scored).
void add_scored_frame(const cv::Mat& truth, const cv::Mat& moving, const cv::Mat& inside,
                      ScoreCounts& counts);

// 255 where any channel of `image` is nonzero, so that colour and 16-bit
// masks are read as they look.
cv::Mat nonzero_anywhere(const cv::Mat& image);

// What a mask calls moving: nonzero anywhere, except pixels whose every
// channel is `shadow_value` (masks that mark shadows with a grey level).
cv::Mat moving_pixels(const cv::Mat& mask, const std::optional<int>& shadow_value);

// The seven metrics, and the share of shadow pixels called moving. A ratio
// whose denominator is empty is not a number.
struct Scores {
  double recall, specificity, false_positive_rate, false_negative_rate, wrong_percentage, precision,
      f_measure, shadow_error_rate;
};
Scores scores_of(const ScoreCounts& counts);

// Everything one evaluation found: the range, the summed counts, what it
// warned about, and (when asked for) each frame's own counts.
struct FrameCounts {
  long long frame;
  ScoreCounts counts;
};
struct ScoreReport {
  long long first = 0, last = 0, missing_masks = 0;
  ScoreCounts total;
  std::vector<std::string> warnings;
  std::vector<FrameCounts> frames;
};

// The report the evaluation scripts read, one "Name: value" line each, or
// the same as one JSON object.
std::string scores_text(const ScoreReport& report);
std::string scores_json(const ScoreReport& report);

}  // namespace strellix::cli
