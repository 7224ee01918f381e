// The subtractor behind OpenCV's interface: its cold start gives the masks
// of a Subtractor seeded with the first frames, and it keeps OpenCV's
// conventions for parameters, files and errors.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <functional>
#include <string>
#include <vector>

#include "strellix/opencv.hpp"
#include "support/frames.h"
#include "support/scratch_dir.h"

namespace {

// The code of the cv::Exception the call throws, or 0.
int cv_error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const cv::Exception& e) {
    EXPECT_EQ(e.err.rfind("strellix: ", 0), 0u) << e.err;
    return e.code;
  }
  return 0;
}

}  // namespace

// Frames come as Mat and UMat; one with learning rate 0 during the cold
// start is not kept. Black masks until the median's last frame, then the
// masks and the background of a Subtractor seeded with the frames kept.
TEST(OpenCVSubtractor, ColdStartGivesTheMasksOfASubtractorSeededWithTheFirstFrames) {
  const std::vector<cv::Mat> frames = scene_with_shadow(50);
  strellix::Parameters p;
  p.median_frames = 10;
  p.shadow_value = 127;
  strellix::Subtractor reference(p);
  reference.initialize(frames);
  cv::Ptr<cv::BackgroundSubtractor> model = strellix::createBackgroundSubtractor(p);
  cv::Mat mask, expected, background;
  model->getBackgroundImage(background);
  EXPECT_TRUE(background.empty());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i == 4) {
      model->apply(frames[40], mask, 0);
      EXPECT_EQ(cv::countNonZero(mask), 0);
      model->getBackgroundImage(background);
      EXPECT_EQ(background.size(), frames[0].size()) << "the median of the frames kept";
    }
    reference.apply(frames[i], expected);
    if (i % 2 == 1)
      model->apply(frames[i].getUMat(cv::ACCESS_READ), mask);
    else
      model->apply(frames[i], mask);
    if (i < 9)
      EXPECT_EQ(cv::countNonZero(mask), 0) << i;
    else
      EXPECT_TRUE(same_pixels(mask, expected)) << i;
  }
  model->getBackgroundImage(background);
  EXPECT_TRUE(same_pixels(background, reference.background()));
}

TEST(OpenCVSubtractor, ParametersFilesAndErrorsFollowOpenCVsConventions) {
  cv::Ptr<strellix::BackgroundSubtractorStrellix> model = strellix::createBackgroundSubtractor();
  EXPECT_EQ(model->getDefaultName(), "BackgroundSubtractor_Strellix");
  model->setLayers(4);
  model->setWidth1D(2);
  model->setWidth2D(3);
  model->setThreshold(0.01);
  model->setLearningRate(0.1);
  model->setMedianFrames(3);
  model->setThreads(1);
  model->setShadowValue(127);
  model->setPostMedian(5);
  model->setNumerics(strellix::Numerics::fast);
  EXPECT_EQ(cv_error_of([&] { model->setPostMedian(4); }), cv::Error::StsOutOfRange);
  EXPECT_EQ(cv_error_of([&] { model->setLayers(0); }), cv::Error::StsOutOfRange);

  ScratchDir dir("opencv-parameters");
  model->save(dir.path("parameters.yml"));  // cv::Algorithm's: the parameters
  cv::Ptr<strellix::BackgroundSubtractorStrellix> loaded =
      cv::Algorithm::load<strellix::BackgroundSubtractorStrellix>(dir.path("parameters.yml"));
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(loaded->getLayers(), 4);
  EXPECT_EQ(loaded->getWidth1D(), 2);
  EXPECT_EQ(loaded->getWidth2D(), 3);
  EXPECT_EQ(loaded->getThreshold(), 0.01);
  EXPECT_EQ(loaded->getLearningRate(), 0.1);
  EXPECT_EQ(loaded->getMedianFrames(), 3);
  EXPECT_EQ(loaded->getThreads(), 1);
  EXPECT_EQ(loaded->getShadowValue(), 127);
  EXPECT_EQ(loaded->getPostMedian(), 5);
  EXPECT_EQ(loaded->getNumerics(), strellix::Numerics::fast);
  cv::FileStorage other(R"({"name": "BackgroundSubtractor_MOG2", "history": 500})",
                        cv::FileStorage::READ | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_JSON);
  EXPECT_EQ(cv_error_of([&] { loaded->read(other.root()); }), cv::Error::StsBadArg);
  cv::FileStorage unknown(R"({"numerics": "faster"})",
                          cv::FileStorage::READ | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_JSON);
  EXPECT_EQ(cv_error_of([&] { loaded->read(unknown.root()); }), cv::Error::StsBadArg);

  // Once frames were taken the model stands on its parameters, until clear().
  const std::vector<cv::Mat> frames = scene_with_shadow(6);
  cv::Mat mask;
  model->apply(frames[0], mask);
  model->setLayers(4);
  EXPECT_EQ(cv_error_of([&] { model->setLayers(3); }), cv::Error::StsError);
  EXPECT_EQ(cv_error_of([&] { model->read(other.root()); }), cv::Error::StsBadArg);
  for (int i = 1; i < 4; ++i) model->apply(frames[i], mask);
  EXPECT_EQ(cv_error_of([&] { model->apply(cv::Mat(30, 40, CV_32FC3), mask); }), cv::Error::StsBadArg);
  EXPECT_EQ(cv_error_of([&] { model->apply(cv::Mat(20, 40, CV_8UC3), mask); }), cv::Error::StsBadArg);
  EXPECT_EQ(cv_error_of([&] { model->apply(frames[4], mask, 2.0); }), cv::Error::StsBadArg);
  model->clear();
  model->setLayers(3);
  cv::Mat background;
  model->getBackgroundImage(background);
  EXPECT_TRUE(background.empty());
}
