// What `strellix segment` puts in the masks on request: shadow marked, a
// median filter, and the black start of a subtractor started cold; and a
// resumed run holds to the mask options of the run it continues.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <string>
#include <vector>

#include "cli/checkpoint.h"
#include "cli/command_failure.h"
#include "strellix/opencv.hpp"
#include "support/cli_runs.h"
#include "support/frames.h"
#include "support/scratch_dir.h"

// The masks equal, frame by frame, those of the OpenCV-style subtractor
// with the same parameters, fed the same frames from the first on.
TEST(SegmentMasks, ColdStartShadowAndMedianGiveTheMasksOfTheOpenCVStyleSubtractor) {
  const int frames = 40;
  ScratchDir s("cli-masks");
  const std::string scene = s.path("frame");
  ASSERT_TRUE(write_frames(scene, 1, scene_with_shadow(frames, 48, 36)));
  const RunResult r = run_cli({"segment", scene + "%d.png", "-o", s.path("out"), "--median-frames", "12",
                               "--shadow-value", "127", "--post-median", "5", "--cold-start", "-q"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  strellix::Parameters p;
  p.median_frames = 12;
  p.shadow_value = 127;
  p.post_median = 5;
  cv::Ptr<cv::BackgroundSubtractor> model = strellix::createBackgroundSubtractor(p);
  int shadow = 0, moving_while_cold = 0;
  for (int k = 1; k <= frames; ++k) {
    cv::Mat mask;
    model->apply(cv::imread(scene + std::to_string(k) + ".png"), mask);
    const cv::Mat written = read_numbered_mask(s.path("out"), "mask", k);
    ASSERT_FALSE(written.empty()) << k;
    EXPECT_EQ(cv::countNonZero(mask != written), 0) << "frame " << k;
    shadow += cv::countNonZero(written == 127);
  }
  EXPECT_GT(shadow, 0);
  // Without --cold-start the frames before the median's last have masks of
  // their own, which the cold start answers black.
  ASSERT_EQ(
      run_cli({"segment", scene + "%d.png", "-o", s.path("warm"), "--median-frames", "12", "-q"}).exit_code,
      0);
  for (int k = 1; k < 12; ++k)
    moving_while_cold += cv::countNonZero(read_numbered_mask(s.path("warm"), "mask", k));
  EXPECT_GT(moving_while_cold, 0);
}

// A run resumed with other mask options is refused by name; a checkpoint
// written before mask options existed (no line for them) resumes a run
// without them.
TEST(SegmentMasks, ResumeHoldsToTheMaskOptionsOfTheInterruptedRun) {
  ScratchDir s("cli-masks-resume");
  strellix::cli::SegmentOptions first;
  first.output_dir = s.root;
  first.parameters.shadow_value = 127;
  first.cold_start = true;
  strellix::cli::write_run_description(first, strellix::cli::describe_run(first, 1));
  strellix::cli::SegmentOptions now = first;
  now.parameters.shadow_value = 0;
  try {
    strellix::cli::check_run_description(now, strellix::cli::describe_run(now, 1));
    ADD_FAILURE() << "another --shadow-value was accepted";
  } catch (const strellix::cli::CommandFailure& e) {
    EXPECT_NE(std::string(e.what()).find("had --shadow-value 127, this command 0"), std::string::npos)
        << e.what();
  }
  now = first;
  now.cold_start = false;
  EXPECT_THROW(strellix::cli::check_run_description(now, strellix::cli::describe_run(now, 1)),
               strellix::cli::CommandFailure);
  EXPECT_NO_THROW(strellix::cli::check_run_description(first, strellix::cli::describe_run(first, 1)));

  strellix::cli::SegmentOptions plain;
  plain.output_dir = s.root;
  const std::string old = strellix::cli::describe_run(plain, 1);
  EXPECT_EQ(old.find("--shadow-value"), std::string::npos) << "options at their default leave no line";
  strellix::cli::write_run_description(plain, old);
  EXPECT_NO_THROW(strellix::cli::check_run_description(plain, old));
}
