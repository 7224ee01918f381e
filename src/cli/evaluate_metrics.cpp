#include "cli/evaluate_metrics.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "cli/json_text.h"

namespace strellix::cli {

namespace {

constexpr std::uint8_t TRUTH_POSITIVE = 255;
constexpr std::uint8_t TRUTH_STATIC = 0;
constexpr std::uint8_t TRUTH_SHADOW = 50;

double ratio(long long numerator, long long denominator) {
  return denominator == 0 ? std::numeric_limits<double>::quiet_NaN()
                          : static_cast<double>(numerator) / static_cast<double>(denominator);
}

std::string metric_line(const char* name, double value) {
  char line[96];
  if (value != value)
    std::snprintf(line, sizeof line, "%s: nan\n", name);
  else
    std::snprintf(line, sizeof line, "%s: %.6f\n", name, value);
  return line;
}

}  // namespace

void add_scored_frame(const cv::Mat& truth, const cv::Mat& positive, const cv::Mat& inside,
                      ScoreCounts& counts) {
  for (int y = 0; y < truth.rows; ++y) {
    const std::uint8_t* t = truth.ptr<std::uint8_t>(y);
    const std::uint8_t* m = positive.empty() ? nullptr : positive.ptr<std::uint8_t>(y);
    const std::uint8_t* r = inside.empty() ? nullptr : inside.ptr<std::uint8_t>(y);
    for (int x = 0; x < truth.cols; ++x) {
      if (r && !r[x]) continue;
      const bool detected = m && m[x];
      if (t[x] == TRUTH_POSITIVE) {
        ++(detected ? counts.tp : counts.fn);
      } else if (t[x] == TRUTH_STATIC || t[x] == TRUTH_SHADOW) {
        ++(detected ? counts.fp : counts.tn);
      }
    }
  }
}

cv::Mat nonzero_anywhere(const cv::Mat& image) {
  cv::Mat result = cv::Mat::zeros(image.size(), CV_8UC1);
  std::vector<cv::Mat> channels;
  cv::split(image, channels);
  for (const cv::Mat& channel : channels) result |= (channel != 0);
  return result;
}

Scores scores_of(const ScoreCounts& c) {
  const long long all = c.tp + c.fp + c.fn + c.tn;
  Scores s;
  s.recall = ratio(c.tp, c.tp + c.fn);
  s.specificity = ratio(c.tn, c.tn + c.fp);
  s.false_positive_rate = ratio(c.fp, c.fp + c.tn);
  s.false_negative_rate = ratio(c.fn, c.tp + c.fn);
  s.wrong_percentage = 100.0 * ratio(c.fn + c.fp, all);
  s.precision = ratio(c.tp, c.tp + c.fp);
  // 2PR/(P+R) written on the counts: also defined (as 0) when nothing was
  // found correctly, as long as anything was positive.
  s.f_measure = ratio(2 * c.tp, 2 * c.tp + c.fp + c.fn);
  return s;
}

std::string scores_text(const ScoreCounts& c, long long first, long long last) {
  const Scores s = scores_of(c);
  std::string text = "Frames: " + std::to_string(first) + "-" + std::to_string(last) + "\n";
  text += "TP: " + std::to_string(c.tp) + "\nFP: " + std::to_string(c.fp) + "\nFN: " + std::to_string(c.fn) +
          "\nTN: " + std::to_string(c.tn) + "\n";
  text += metric_line("Recall", s.recall);
  text += metric_line("Specificity", s.specificity);
  text += metric_line("False positive rate", s.false_positive_rate);
  text += metric_line("False negative rate", s.false_negative_rate);
  text += metric_line("Percentage of wrong classifications", s.wrong_percentage);
  text += metric_line("Precision", s.precision);
  text += metric_line("F-measure", s.f_measure);
  return text;
}

std::string scores_json(const ScoreCounts& c, long long first, long long last, long long missing_masks) {
  const Scores s = scores_of(c);
  std::string text = "{\n";
  text += "  \"first\": " + std::to_string(first) + ",\n  \"last\": " + std::to_string(last) + ",\n";
  text += "  \"missing_masks\": " + std::to_string(missing_masks) + ",\n";
  text += "  \"tp\": " + std::to_string(c.tp) + ",\n  \"fp\": " + std::to_string(c.fp) +
          ",\n  \"fn\": " + std::to_string(c.fn) + ",\n  \"tn\": " + std::to_string(c.tn) + ",\n";
  text += "  \"recall\": " + json_number(s.recall) + ",\n";
  text += "  \"specificity\": " + json_number(s.specificity) + ",\n";
  text += "  \"false_positive_rate\": " + json_number(s.false_positive_rate) + ",\n";
  text += "  \"false_negative_rate\": " + json_number(s.false_negative_rate) + ",\n";
  text += "  \"percentage_wrong_classifications\": " + json_number(s.wrong_percentage) + ",\n";
  text += "  \"precision\": " + json_number(s.precision) + ",\n";
  text += "  \"f_measure\": " + json_number(s.f_measure) + "\n}\n";
  return text;
}

}  // namespace strellix::cli
