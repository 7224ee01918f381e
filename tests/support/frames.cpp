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
