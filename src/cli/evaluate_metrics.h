// Scoring masks against ground-truth label images in the change-detection
// layout: ground truth 255 is positive, 0 and 50 (shadow) negative, any
// other label (85 outside the region of interest, 170 unknown motion) is
// not scored, and neither are pixels where the region-of-interest image is
// 0. Any nonzero mask pixel is positive. Counts are summed over all frames
// before the ratios are taken.
#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace strellix::cli {

struct ScoreCounts {
  long long tp = 0, fp = 0, tn = 0, fn = 0;
};

// Adds one frame: `truth` 8-bit labels; `positive` 8-bit, nonzero where the
// mask found an object (empty: a missing mask, all background); `inside`
// 8-bit, zero where nothing is scored (empty: everywhere scored).
void add_scored_frame(const cv::Mat& truth, const cv::Mat& positive, const cv::Mat& inside,
                      ScoreCounts& counts);

// 255 where any channel of `image` is nonzero, so that colour and 16-bit
// masks are read as they look.
cv::Mat nonzero_anywhere(const cv::Mat& image);

// The seven metrics. A ratio whose denominator is empty is not a number.
struct Scores {
  double recall, specificity, false_positive_rate, false_negative_rate, wrong_percentage, precision,
      f_measure;
};
Scores scores_of(const ScoreCounts& counts);

// The report the evaluation scripts read, one "Name: value" line each, or
// the same as one JSON object.
std::string scores_text(const ScoreCounts& counts, long long first, long long last);
std::string scores_json(const ScoreCounts& counts, long long first, long long last, long long missing_masks);

}  // namespace strellix::cli
