#include <gtest/gtest.h>

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>

#include "io/frame_source.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

class FrameSource : public testing::Test {
 protected:
  // Grabs `path` in file mode; the reader prints nothing, whatever the
  // decoder would have said.
  FrameRead grab(const std::string& path, int w = 0, int h = 0) {
    testing::internal::CaptureStderr();
    FrameRead read = grab_frame(0, nullptr, 0, path, w, h);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << path;
    EXPECT_EQ(read.frame.empty(), read.status != GRAB_OK) << path;
    EXPECT_EQ(read.error.empty(), read.status != GRAB_UNUSABLE) << path;
    return read;
  }

  ScratchDir scratch_{"frames"};
  const std::string& dir_ = scratch_.root;
};

TEST_F(FrameSource, OtherPngKindsArriveAsThreeByteChannels) {
  cv::Mat grey(2, 3, CV_8UC1, cv::Scalar(40));
  cv::Mat deep(2, 3, CV_16UC1, cv::Scalar(200 * 256));
  cv::Mat alpha(2, 3, CV_8UC4, cv::Scalar(10, 20, 30, 0));
  const struct {
    const char* name;
    cv::Mat image;
    cv::Vec3b expected;
  } cases[] = {
      {"/grey.png", grey, {40, 40, 40}},
      {"/deep.png", deep, {200, 200, 200}},
      {"/alpha.png", alpha, {10, 20, 30}},
      {"/colour.png", cv::Mat(2, 3, CV_8UC3, cv::Scalar(1, 2, 3)), {1, 2, 3}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(cv::imwrite(dir_ + c.name, c.image));
    const FrameRead read = grab(dir_ + c.name, 3, 2);
    EXPECT_EQ(read.status, GRAB_OK) << c.name;
    ASSERT_EQ(read.frame.type(), CV_8UC3) << c.name;
    EXPECT_EQ(read.frame.at<cv::Vec3b>(1, 2), c.expected) << c.name;
  }
}

TEST_F(FrameSource, MissingCorruptAndWrongSizedFilesAreTold) {
  EXPECT_EQ(grab(dir_ + "/none.png").status, GRAB_MISSING);

  const std::string corrupt = dir_ + "/corrupt.png";
  std::FILE* file = std::fopen(corrupt.c_str(), "wb");
  std::fputs("\x89PNG\r\n\x1a\n this is not really an image", file);
  std::fclose(file);
  EXPECT_EQ(grab(corrupt).error,
            "cannot decode image file " + corrupt + ": not an image, or damaged or truncated");

  const std::string small = dir_ + "/small%s%n.png";  // a name that is no format
  ASSERT_TRUE(cv::imwrite(small, cv::Mat(2, 3, CV_8UC3, cv::Scalar(0))));
  EXPECT_EQ(grab(small, 4, 2).error, small + " is 3x2 pixels, expected 4x2");
}

TEST_F(FrameSource, VideoModeDropsEarlierFramesAndEndsWithNull) {
  const std::string path = dir_ + "/clip.avi";
  cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 5, cv::Size(8, 6));
  if (!writer.isOpened()) GTEST_SKIP() << "no lossless video writer here";
  for (int k = 0; k < 5; ++k) writer.write(cv::Mat(6, 8, CV_8UC3, cv::Scalar(40 * k, 10, 200)));
  writer.release();

  cv::VideoCapture capture(path);
  ASSERT_TRUE(capture.isOpened());
  EXPECT_EQ(grab_frame(1, &capture, 0, "", 8, 6).status, GRAB_MISSING);  // count < 1
  const FrameRead third = grab_frame(1, &capture, 3, "", 8, 6);
  ASSERT_EQ(third.status, GRAB_OK);
  ASSERT_EQ(third.frame.type(), CV_8UC3);
  EXPECT_EQ(third.frame.at<cv::Vec3b>(3, 4), cv::Vec3b(80, 10, 200));

  const FrameRead refused = grab_frame(1, &capture, 1, "f4.png", 9, 6);
  EXPECT_EQ(refused.status, GRAB_UNUSABLE);
  EXPECT_EQ(refused.error, "f4.png is 8x6 pixels, expected 9x6");

  EXPECT_EQ(grab_frame(1, &capture, 2, "", 0, 0).status, GRAB_MISSING);  // only one left
}

}  // namespace
