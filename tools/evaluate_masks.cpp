// Scores foreground masks against ground-truth label images.
//
//   evaluate_masks MASKDIR GTDIR [--roi ROI.bmp] [--first A --last B]
//                  [--gt-pattern gt%06d.png] [--mask-pattern bin%06d.png]
//
// Ground truth 255 is positive, 0 and 50 negative, anything else (85 outside
// the region of interest, 170 unknown motion) is not scored; neither are
// pixels where the ROI image is 0. Any nonzero mask pixel is positive. The
// counts are summed over all frames before the ratios are taken. Without
// --first/--last the range comes from temporalROI.txt beside GTDIR.

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

struct EvalOptions {
  std::string mask_dir;
  std::string truth_dir;
  std::string roi_path;
  long long first = -1;
  long long last = -1;
  std::string truth_pattern = "gt%06d.png";
  std::string mask_pattern = "bin%06d.png";
};

struct Counts {
  long long tp = 0, fp = 0, tn = 0, fn = 0;
};

const uint8_t kTruthPositive = 255;
const uint8_t kTruthStatic = 0;
const uint8_t kTruthShadow = 50;

// A file-name pattern with exactly one integer field, such as gt%06d.png or
// bin%.6d.png; split once so that no user text ever reaches printf.
struct NamePattern {
  std::string before, after;
  bool zero_pad = false;
  int width = 0;
  int precision = 0;
};

bool parse_pattern(const std::string& text, NamePattern* pattern) {
  NamePattern result;
  bool seen_field = false;
  std::string* part = &result.before;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *part += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    if (seen_field) return false;
    size_t j = i + 1;
    if (j < text.size() && text[j] == '0') {
      result.zero_pad = true;
      ++j;
    }
    while (j < text.size() && text[j] >= '0' && text[j] <= '9' && result.width < 100)
      result.width = result.width * 10 + (text[j++] - '0');
    if (j < text.size() && text[j] == '.') {
      ++j;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9' && result.precision < 100)
        result.precision = result.precision * 10 + (text[j++] - '0');
    }
    if (j >= text.size() || text[j] != 'd') return false;
    seen_field = true;
    part = &result.after;
    i = j;
  }
  if (!seen_field) return false;
  *pattern = result;
  return true;
}

std::string format_number(const NamePattern& pattern, long long number) {
  std::string digits = std::to_string(number < 0 ? -number : number);
  if (static_cast<int>(digits.size()) < pattern.precision)
    digits.insert(0, static_cast<size_t>(pattern.precision) - digits.size(), '0');
  std::string sign = number < 0 ? "-" : "";
  int length = static_cast<int>(sign.size() + digits.size());
  if (length < pattern.width) {
    size_t fill = static_cast<size_t>(pattern.width - length);
    // As printf: a precision turns the 0 flag off.
    if (pattern.zero_pad && pattern.precision == 0)
      digits.insert(0, fill, '0');
    else
      sign.insert(0, fill, ' ');
  }
  return pattern.before + sign + digits + pattern.after;
}

bool parse_frame_number(const char* text, long long* value) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 999999999) return false;
  *value = v;
  return true;
}

void print_usage() {
  std::fprintf(stderr,
               "usage: evaluate_masks MASKDIR GTDIR [--roi ROI.bmp] [--first A --last B]\n"
               "                      [--gt-pattern gt%%06d.png] [--mask-pattern bin%%06d.png]\n"
               "  without --first/--last the range is read from temporalROI.txt beside GTDIR\n");
}

bool parse_options(int argc, char** argv, EvalOptions* options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool is_option = arg == "--roi" || arg == "--first" || arg == "--last" || arg == "--gt-pattern" ||
                     arg == "--mask-pattern";
    if (!is_option) {
      if (arg.size() > 1 && arg[0] == '-') {
        std::fprintf(stderr, "evaluate_masks: unknown option %s\n", arg.c_str());
        return false;
      }
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "evaluate_masks: %s needs a value\n", arg.c_str());
      return false;
    }
    const char* value = argv[++i];
    if (arg == "--roi") {
      options->roi_path = value;
    } else if (arg == "--gt-pattern") {
      options->truth_pattern = value;
    } else if (arg == "--mask-pattern") {
      options->mask_pattern = value;
    } else if (!parse_frame_number(value, arg == "--first" ? &options->first : &options->last)) {
      std::fprintf(stderr, "evaluate_masks: %s needs a frame number, not \"%s\"\n", arg.c_str(), value);
      return false;
    }
  }
  if (positional.size() != 2) {
    std::fprintf(stderr, "evaluate_masks: need a mask directory and a ground-truth directory\n");
    return false;
  }
  options->mask_dir = positional[0];
  options->truth_dir = positional[1];
  return true;
}

// temporalROI.txt lives in the sequence directory, the parent of GTDIR.
std::string temporal_roi_path(const std::string& truth_dir) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(truth_dir).lexically_normal();
  if (dir.filename().empty()) dir = dir.parent_path();
  fs::path parent = dir.parent_path();
  return (parent / "temporalROI.txt").string();
}

bool read_temporal_roi(const std::string& path, long long* first, long long* last) {
  std::ifstream in(path);
  long long a = 0, b = 0;
  if (!(in >> a >> b) || a < 0 || b < 0) return false;
  *first = a;
  *last = b;
  return true;
}

// 255 where any channel is nonzero, so colour or 16-bit images work too.
cv::Mat nonzero_anywhere(const cv::Mat& image) {
  cv::Mat result = cv::Mat::zeros(image.size(), CV_8UC1);
  std::vector<cv::Mat> channels;
  cv::split(image, channels);
  for (const cv::Mat& channel : channels) result |= (channel != 0);
  return result;
}

cv::Mat read_image(const std::string& path, int flags) {
  try {
    return cv::imread(path, flags);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

bool file_present(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

void add_frame(const cv::Mat& truth, const cv::Mat& positive, const cv::Mat& inside, Counts* counts) {
  for (int y = 0; y < truth.rows; ++y) {
    const uint8_t* t = truth.ptr<uint8_t>(y);
    const uint8_t* m = positive.empty() ? nullptr : positive.ptr<uint8_t>(y);
    const uint8_t* r = inside.empty() ? nullptr : inside.ptr<uint8_t>(y);
    for (int x = 0; x < truth.cols; ++x) {
      if (r && !r[x]) continue;
      bool detected = m && m[x];
      if (t[x] == kTruthPositive) {
        if (detected)
          ++counts->tp;
        else
          ++counts->fn;
      } else if (t[x] == kTruthStatic || t[x] == kTruthShadow) {
        if (detected)
          ++counts->fp;
        else
          ++counts->tn;
      }
    }
  }
}

// An empty denominator leaves the ratio undefined; it is printed as nan.
double ratio(long long numerator, long long denominator) {
  return denominator == 0 ? std::numeric_limits<double>::quiet_NaN()
                          : static_cast<double>(numerator) / static_cast<double>(denominator);
}

void print_metric(const char* name, double value) {
  if (value != value)
    std::printf("%s: nan\n", name);
  else
    std::printf("%s: %.6f\n", name, value);
}

void print_report(const Counts& c, long long first, long long last) {
  std::printf("Frames: %lld-%lld\n", first, last);
  std::printf("TP: %lld\nFP: %lld\nFN: %lld\nTN: %lld\n", c.tp, c.fp, c.fn, c.tn);
  long long all = c.tp + c.fp + c.fn + c.tn;
  print_metric("Recall", ratio(c.tp, c.tp + c.fn));
  print_metric("Specificity", ratio(c.tn, c.tn + c.fp));
  print_metric("False positive rate", ratio(c.fp, c.fp + c.tn));
  print_metric("False negative rate", ratio(c.fn, c.tp + c.fn));
  print_metric("Percentage of wrong classifications", 100.0 * ratio(c.fn + c.fp, all));
  print_metric("Precision", ratio(c.tp, c.tp + c.fp));
  // 2PR/(P+R) written on the counts: also defined (as 0) when nothing was
  // found correctly, as long as anything was positive.
  print_metric("F-measure", ratio(2 * c.tp, 2 * c.tp + c.fp + c.fn));
}

}  // namespace

int main(int argc, char** argv) {
  EvalOptions options;
  if (!parse_options(argc, argv, &options)) {
    print_usage();
    return 2;
  }
  NamePattern truth_pattern, mask_pattern;
  if (!parse_pattern(options.truth_pattern, &truth_pattern) ||
      !parse_pattern(options.mask_pattern, &mask_pattern)) {
    std::fprintf(stderr, "evaluate_masks: a name pattern needs exactly one %%d field (such as %%06d)\n");
    return 2;
  }
  if (options.first < 0 || options.last < 0) {
    long long roi_first = 0, roi_last = 0;
    std::string roi_file = temporal_roi_path(options.truth_dir);
    if (!read_temporal_roi(roi_file, &roi_first, &roi_last)) {
      std::fprintf(stderr, "evaluate_masks: no frame range: give --first and --last, or provide %s\n",
                   roi_file.c_str());
      return 2;
    }
    if (options.first < 0) options.first = roi_first;
    if (options.last < 0) options.last = roi_last;
  }
  if (options.last < options.first) {
    std::fprintf(stderr, "evaluate_masks: empty frame range %lld-%lld\n", options.first, options.last);
    return 2;
  }

  cv::Mat roi;
  if (!options.roi_path.empty()) {
    cv::Mat roi_image;
    if (file_present(options.roi_path)) roi_image = read_image(options.roi_path, cv::IMREAD_UNCHANGED);
    if (roi_image.empty()) {
      std::fprintf(stderr, "evaluate_masks: cannot read the region of interest %s\n",
                   options.roi_path.c_str());
      return 1;
    }
    roi = nonzero_anywhere(roi_image);
  }

  namespace fs = std::filesystem;
  Counts counts;
  long long missing_masks = 0;
  bool roi_size_checked = false;
  for (long long k = options.first; k <= options.last; ++k) {
    std::string truth_path = (fs::path(options.truth_dir) / format_number(truth_pattern, k)).string();
    cv::Mat truth;
    if (file_present(truth_path)) truth = read_image(truth_path, cv::IMREAD_GRAYSCALE);
    if (truth.empty()) {
      std::fprintf(stderr, "evaluate_masks: cannot read the ground truth %s\n", truth_path.c_str());
      return 1;
    }
    if (!roi_size_checked) {
      roi_size_checked = true;
      if (!roi.empty() && roi.size() != truth.size()) {
        std::fprintf(stderr,
                     "evaluate_masks: warning: %s is %dx%d, the frames are %dx%d; "
                     "scoring the whole frame\n",
                     options.roi_path.c_str(), roi.cols, roi.rows, truth.cols, truth.rows);
        roi.release();
      }
    }
    std::string mask_path = (fs::path(options.mask_dir) / format_number(mask_pattern, k)).string();
    cv::Mat positive;
    if (!file_present(mask_path)) {
      ++missing_masks;  // scored as all background
    } else {
      cv::Mat mask = read_image(mask_path, cv::IMREAD_UNCHANGED);
      if (mask.empty()) {
        std::fprintf(stderr, "evaluate_masks: cannot read the mask %s\n", mask_path.c_str());
        return 1;
      }
      if (mask.size() != truth.size()) {
        std::fprintf(stderr, "evaluate_masks: %s is %dx%d, its ground truth %dx%d\n", mask_path.c_str(),
                     mask.cols, mask.rows, truth.cols, truth.rows);
        return 1;
      }
      positive = nonzero_anywhere(mask);
    }
    cv::Mat inside = (!roi.empty() && roi.size() == truth.size()) ? roi : cv::Mat();
    add_frame(truth, positive, inside, &counts);
  }
  if (missing_masks > 0)
    std::fprintf(stderr, "evaluate_masks: %lld of %lld mask files missing, scored as background\n",
                 missing_masks, options.last - options.first + 1);
  print_report(counts, options.first, options.last);
  return 0;
}
