#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "colour/plane_convert.h"
#include "core/plane_set.h"
#include "core/settings.h"

using namespace strellix;

// A 5x3 frame living inside a wider Mat, so that its rows are padded.
static cv::Mat padded_frame(cv::Mat& parent) {
  parent = cv::Mat(3, 9, CV_8UC3, cv::Scalar(7, 7, 7));
  return parent(cv::Rect(2, 0, 5, 3));
}

TEST(PlaneConvert, PaddedRowsRoundTripWithoutShiftOrSpill) {
  cv::Mat parent;
  cv::Mat frame = padded_frame(parent);
  ASSERT_GT(frame.step, 3 * static_cast<size_t>(frame.cols));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c)
      frame.at<cv::Vec3b>(r, c) = cv::Vec3b(10 + r * 5 + c, 100 + r * 5 + c, 200 + r * 5 + c);
  PlaneSet<unsigned char> planes = alloc_byte_planes(3, 15);
  image_to_planes(frame, 0, planes);
  for (int i = 0; i < 15; ++i) {
    EXPECT_EQ(planes[0][i], 200 + i);  // R from byte +2
    EXPECT_EQ(planes[1][i], 100 + i);
    EXPECT_EQ(planes[2][i], 10 + i);  // B from byte +0
  }
  const cv::Mat before = parent.clone();
  frame.setTo(cv::Scalar(0, 0, 0));
  planes_to_image(planes, 0, frame);
  EXPECT_EQ(cv::norm(parent, before, cv::NORM_INF), 0.0) << "round trip changed the parent";
  free_planes(planes, 3);
}

TEST(PlaneConvert, LabelsBecomeMaskOnOddWidthLeavingPadding) {
  const int width = 5, height = 2;
  cv::Mat parent(height, 8, CV_8UC1, cv::Scalar(99));
  cv::Mat mask = parent(cv::Rect(0, 0, width, height));
  const unsigned char labels[10] = {LABEL_BACKGROUND,
                                    LABEL_SHADOW,
                                    LABEL_FILTERED_FOREGROUND,
                                    LABEL_FOREGROUND,
                                    1,
                                    LABEL_FOREGROUND,
                                    254,
                                    0,
                                    0,
                                    LABEL_FOREGROUND};
  labels_to_image(labels, width * height, mask);
  const unsigned char expected[10] = {0, 0, 0, 255, 0, 255, 0, 0, 0, 255};
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) EXPECT_EQ(mask.at<unsigned char>(r, c), expected[r * width + c]);
    for (int c = width; c < 8; ++c) EXPECT_EQ(parent.at<unsigned char>(r, c), 99) << "padding written";
  }
}
