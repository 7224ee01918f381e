#include "support/frames.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>

cv::Mat solid_frame(int width, int height, const cv::Vec3b& bgr) {
  return cv::Mat(height, width, CV_8UC3, cv::Scalar(bgr[0], bgr[1], bgr[2]));
}

void paint_rect(cv::Mat& frame, int x, int y, int w, int h, const cv::Vec3b& bgr) {
  cv::Rect area = cv::Rect(x, y, w, h) & cv::Rect(0, 0, frame.cols, frame.rows);
  frame(area).setTo(cv::Scalar(bgr[0], bgr[1], bgr[2]));
}

cv::Mat textured_frame(int width, int height, int t) {
  cv::Mat f(height, width, CV_8UC3);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c)
      f.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<uchar>(60 + (r * 7 + c * 3) % 50 + t % 3),
                    static_cast<uchar>(90 + (r * 5 + c * 11) % 40), static_cast<uchar>(120 + (r + c) % 30));
  return f;
}

std::vector<cv::Mat> scene_with_shadow(int count, int width, int height) {
  std::vector<cv::Mat> frames;
  for (int t = 0; t < count; ++t) {
    cv::Mat f = textured_frame(width, height, t);
    const int x = (t * 2) % width;
    const cv::Rect shadow = cv::Rect(x + 8, height / 3 + 4, 6, 8) & cv::Rect(0, 0, width, height);
    if (!shadow.empty()) {
      cv::Mat darker;
      f(shadow).convertTo(darker, -1, 0.8);
      darker.copyTo(f(shadow));
    }
    paint_rect(f, x, height / 3, 8, 8, cv::Vec3b(20, 200, 240));
    paint_rect(f, width - 1 - (t * 3) % width, 0, 3, 2, cv::Vec3b(250, 30, 30));
    frames.push_back(f);
  }
  return frames;
}

bool write_frame(const std::string& prefix, long long k, const cv::Mat& frame) {
  return cv::imwrite(prefix + std::to_string(k) + ".png", frame);
}

bool write_frames(const std::string& prefix, int first_number, const std::vector<cv::Mat>& frames) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!write_frame(prefix, first_number + static_cast<long long>(i), frames[i])) return false;
  }
  return true;
}

cv::Mat read_mask(const std::string& dir, long long k) {
  char name[64];
  std::snprintf(name, sizeof name, "bin%.6lld.png", k);
  const std::string path = dir + "/" + name;
  if (!std::ifstream(path).good()) return cv::Mat();
  return cv::imread(path, cv::IMREAD_UNCHANGED);
}

int count_value(const cv::Mat& mask, int value) {
  int count = 0;
  for (int r = 0; r < mask.rows; ++r) {
    for (int c = 0; c < mask.cols; ++c) count += mask.at<unsigned char>(r, c) == value;
  }
  return count;
}

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return false;
  for (int r = 0; r < a.rows; ++r) {
    if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0) return false;
  }
  return true;
}

std::vector<cv::Mat> run_masks(strellix::Subtractor& s, const std::vector<cv::Mat>& frames, std::size_t from,
                               std::size_t to) {
  std::vector<cv::Mat> masks;
  cv::Mat mask;
  for (std::size_t i = from; i < to; ++i) {
    s.apply(frames[i], mask);
    masks.push_back(mask.clone());
  }
  return masks;
}
