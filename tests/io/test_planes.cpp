#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <opencv2/core.hpp>

#include "io/plane_convert.h"
#include "io/plane_set.h"
#include "model/settings.h"

using namespace strellix;

TEST(PlaneSet, AllocatesZeroedPlanesAndReleasesOnce) {
  PlaneSet<unsigned char> bytes = alloc_byte_planes(3, 7);
  PlaneSet<float> floats = alloc_float_planes(5, 5);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 7; ++i) EXPECT_EQ(bytes[k][i], 0);
  for (int k = 0; k < 5; ++k)
    for (int i = 0; i < 5; ++i) EXPECT_EQ(floats[k][i], 0.0f);
  free_planes(bytes, 3);
  free_planes(floats, 5);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(floats, nullptr);
  free_planes(bytes, 3);  // second release must be harmless
  free_planes(floats, 5);
}

TEST(PlaneSet, CopyTouchesExactlyThreePlanes) {
  PlaneSet<unsigned char> source = alloc_byte_planes(4, 6);
  PlaneSet<unsigned char> destination = alloc_byte_planes(4, 6);
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 6; ++i) source[k][i] = static_cast<unsigned char>(10 * k + i + 1);
  copy_byte_planes(source, 5, destination);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(destination[k][i], source[k][i]);
    EXPECT_EQ(destination[k][5], 0) << "copied past the length";
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(destination[3][i], 0) << "fourth plane touched";
  free_planes(source, 4);
  free_planes(destination, 4);
}

// A request past all memory is refused as such, not wrapped round to a
// small size; a plane set refused part way releases what it had.
TEST(PlaneSet, OverflowingRequestThrowsAllocationFailure) {
  try {
    std::free(checked_calloc(SIZE_MAX / 2, 4));
    ADD_FAILURE() << "no exception";
  } catch (const AllocationFailure& failure) {
    EXPECT_EQ(failure.bytes(), SIZE_MAX);
  }
  EXPECT_THROW(alloc_float_planes(3, SIZE_MAX / 2), AllocationFailure);
}

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
