#include "core/frame_input.h"

#include <opencv2/imgproc.hpp>

#include <stdexcept>
#include <string>

namespace strellix {

namespace {

// 16-bit samples keep their high byte, as the image decoder does when it
// reads a 16-bit PNG file for three 8-bit channels.
cv::Mat high_bytes(const cv::Mat& deep) {
  cv::Mat bytes(deep.rows, deep.cols, CV_MAKETYPE(CV_8U, deep.channels()));
  const int samples = deep.cols * deep.channels();
  for (int r = 0; r < deep.rows; ++r) {
    const unsigned short* from = deep.ptr<unsigned short>(r);
    unsigned char* to = bytes.ptr<unsigned char>(r);
    for (int i = 0; i < samples; ++i) to[i] = static_cast<unsigned char>(from[i] >> 8);
  }
  return bytes;
}

std::string describe_type(const cv::Mat& frame) {
  static const char* const depths[] = {"8U", "8S", "16U", "16S", "32S", "32F", "64F", "16F"};
  const int depth = frame.depth();
  return std::string(depth >= 0 && depth < 8 ? depths[depth] : "?") + "C" + std::to_string(frame.channels());
}

}  // namespace

bool frame_type_supported(const cv::Mat& frame) {
  const int channels = frame.channels();
  return !frame.empty() && frame.dims == 2 && (frame.depth() == CV_8U || frame.depth() == CV_16U) &&
         (channels == 1 || channels == 3 || channels == 4);
}

cv::Mat frame_as_bgr8(const cv::Mat& frame) {
  if (!frame_type_supported(frame)) return cv::Mat();
  const int channels = frame.channels();
  const cv::Mat bytes = frame.depth() == CV_16U ? high_bytes(frame) : frame;
  if (channels == 3) return bytes;
  cv::Mat colour;
  cv::cvtColor(bytes, colour, channels == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
  return colour;
}

cv::Mat require_bgr8(const cv::Mat& frame, const char* what) {
  if (frame.empty()) throw std::invalid_argument(std::string("strellix: the ") + what + " is empty");
  cv::Mat bgr = frame_as_bgr8(frame);
  if (bgr.empty()) {
    throw std::invalid_argument(std::string("strellix: the ") + what + " is of type " + describe_type(frame) +
                                "; 8-bit or 16-bit with 1, 3 or 4 channels is expected");
  }
  return bgr;
}

}  // namespace strellix
