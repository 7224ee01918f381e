#include "cli/overlay.h"

namespace strellix::cli {

cv::Mat tinted_overlay(const cv::Mat& frame, const cv::Mat& mask) {
  cv::Mat out = frame.clone();
  for (int y = 0; y < out.rows; ++y) {
    cv::Vec3b* pixel = out.ptr<cv::Vec3b>(y);
    const unsigned char* m = mask.ptr<unsigned char>(y);
    for (int x = 0; x < out.cols; ++x) {
      if (m[x] == 0) continue;
      pixel[x][0] = static_cast<unsigned char>(pixel[x][0] / 2);
      pixel[x][1] = static_cast<unsigned char>(pixel[x][1] / 2);
      pixel[x][2] = static_cast<unsigned char>(pixel[x][2] / 2 + 128);
    }
  }
  return out;
}

}  // namespace strellix::cli
