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

// The counts as JSON members, shared by the totals and each frame's line.
std::string counts_json(const ScoreCounts& c) {
  return "\"tp\": " + std::to_string(c.tp) + ", \"fp\": " + std::to_string(c.fp) +
         ", \"fn\": " + std::to_string(c.fn) + ", \"tn\": " + std::to_string(c.tn) +
         ", \"shadow\": " + std::to_string(c.shadow) +
         ", \"shadow_moving\": " + std::to_string(c.shadow_moving);
}

}  // namespace

ScoreCounts& ScoreCounts::operator+=(const ScoreCounts& o) {
  tp += o.tp;
  fp += o.fp;
  tn += o.tn;
  fn += o.fn;
  shadow += o.shadow;
  shadow_moving += o.shadow_moving;
  return *this;
}

void add_scored_frame(const cv::Mat& truth, const cv::Mat& moving, const cv::Mat& inside,
                      ScoreCounts& counts) {
  for (int y = 0; y < truth.rows; ++y) {
    const std::uint8_t* t = truth.ptr<std::uint8_t>(y);
    const std::uint8_t* m = moving.empty() ? nullptr : moving.ptr<std::uint8_t>(y);
    const std::uint8_t* r = inside.empty() ? nullptr : inside.ptr<std::uint8_t>(y);
    for (int x = 0; x < truth.cols; ++x) {
      if (r && !r[x]) continue;
      const bool detected = m && m[x];
      if (t[x] == TRUTH_POSITIVE) {
        ++(detected ? counts.tp : counts.fn);
      } else if (t[x] == TRUTH_STATIC || t[x] == TRUTH_SHADOW) {
        ++(detected ? counts.fp : counts.tn);
        if (t[x] == TRUTH_SHADOW) {
          ++counts.shadow;
          counts.shadow_moving += detected;
        }
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

cv::Mat moving_pixels(const cv::Mat& mask, const std::optional<int>& shadow_value) {
  cv::Mat moving = nonzero_anywhere(mask);
  if (!shadow_value) return moving;
  cv::Mat shadow = cv::Mat(mask.size(), CV_8UC1, cv::Scalar(255));
  std::vector<cv::Mat> channels;
  cv::split(mask, channels);
  for (const cv::Mat& channel : channels) shadow &= (channel == *shadow_value);
  moving.setTo(0, shadow);
  return moving;
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
  s.shadow_error_rate = ratio(c.shadow_moving, c.shadow);
  return s;
}

std::string scores_text(const ScoreReport& r) {
  const ScoreCounts& c = r.total;
  const Scores s = scores_of(c);
  std::string text = "Frames: " + std::to_string(r.first) + "-" + std::to_string(r.last) + "\n";
  text += "TP: " + std::to_string(c.tp) + "\nFP: " + std::to_string(c.fp) + "\nFN: " + std::to_string(c.fn) +
          "\nTN: " + std::to_string(c.tn) + "\n";
  text += metric_line("Recall", s.recall);
  text += metric_line("Specificity", s.specificity);
  text += metric_line("False positive rate", s.false_positive_rate);
  text += metric_line("False negative rate", s.false_negative_rate);
  text += metric_line("Percentage of wrong classifications", s.wrong_percentage);
  text += metric_line("Precision", s.precision);
  text += metric_line("F-measure", s.f_measure);
  text += metric_line("Shadow error rate", s.shadow_error_rate);
  for (const FrameCounts& f : r.frames)
    text += "Frame " + std::to_string(f.frame) + ": TP " + std::to_string(f.counts.tp) + " FP " +
            std::to_string(f.counts.fp) + " FN " + std::to_string(f.counts.fn) + " TN " +
            std::to_string(f.counts.tn) + "\n";
  return text;
}

std::string scores_json(const ScoreReport& r) {
  const ScoreCounts& c = r.total;
  const Scores s = scores_of(c);
  std::string text = "{\n";
  text += "  \"first\": " + std::to_string(r.first) + ",\n  \"last\": " + std::to_string(r.last) + ",\n";
  text += "  \"missing_masks\": " + std::to_string(r.missing_masks) + ",\n";
  text += "  " + counts_json(c) + ",\n";
  text += "  \"recall\": " + json_number(s.recall) + ",\n";
  text += "  \"specificity\": " + json_number(s.specificity) + ",\n";
  text += "  \"false_positive_rate\": " + json_number(s.false_positive_rate) + ",\n";
  text += "  \"false_negative_rate\": " + json_number(s.false_negative_rate) + ",\n";
  text += "  \"percentage_wrong_classifications\": " + json_number(s.wrong_percentage) + ",\n";
  text += "  \"precision\": " + json_number(s.precision) + ",\n";
  text += "  \"f_measure\": " + json_number(s.f_measure) + ",\n";
  text += "  \"shadow_error_rate\": " + json_number(s.shadow_error_rate) + ",\n";
  text += "  \"warnings\": [";
  for (std::size_t k = 0; k < r.warnings.size(); ++k) text += (k ? ", " : "") + json_string(r.warnings[k]);
  text += "]";
  if (!r.frames.empty()) {
    text += ",\n  \"frames\": [";
    for (std::size_t k = 0; k < r.frames.size(); ++k)
      text += std::string(k ? ",\n" : "\n") + "    {\"frame\": " + std::to_string(r.frames[k].frame) + ", " +
              counts_json(r.frames[k].counts) + "}";
    text += "\n  ]";
  }
  return text + "\n}\n";
}

}  // namespace strellix::cli
