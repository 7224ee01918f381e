// Checkpoints: the state written through the command line's own atomic
// writer comes back exactly, and a resume is refused, naming the option,
// when the run it continues was another.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "cli/checkpoint.h"
#include "cli/command_failure.h"
#include "cli/output_dir.h"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix::cli;

namespace {

SegmentOptions options_in(const std::string& dir) {
  SegmentOptions o;
  o.output_dir = dir;
  o.location.kind = InputKind::pattern;
  o.location.text = o.location.absolute = dir + "/in\n%d.png";  // a line break must not split a line
  o.parameters.layers = 3;
  o.parameters.median_frames = 4;
  return o;
}

int failure_code(const std::function<void()>& call, std::string& message) {
  try {
    call();
  } catch (const CommandFailure& failure) {
    message = failure.what();
    return failure.code();
  }
  return EXIT_DONE;
}

TEST(Checkpoint, StateComesBackExactlyAndNothingElseIsLeft) {
  ScratchDir s("checkpoint-state");
  const SegmentOptions o = options_in(s.root);
  strellix::Subtractor model(o.parameters);
  std::vector<cv::Mat> frames;
  for (int k = 0; k < 8; ++k) {
    frames.push_back(solid_frame(16, 12, cv::Vec3b(90, 90, 90)));
    paint_rect(frames.back(), k, 3, 4, 4, cv::Vec3b(10, 200, 30));
  }
  model.initialize(frames);
  cv::Mat mask, again;
  for (int k = 0; k < 5; ++k) model.apply(frames[k], mask);
  ASSERT_EQ(save_checkpoint(model, o), "");
  ASSERT_EQ(save_checkpoint(model, o), "");  // replacing it too
  EXPECT_EQ(directory_entries(s.root), std::vector<std::string>{CHECKPOINT_STATE_FILE});
  strellix::Subtractor resumed = load_checkpoint(o);
  EXPECT_EQ(resumed.frames_applied(), 5);
  for (int k = 5; k < 8; ++k) {
    model.apply(frames[k], mask);
    resumed.apply(frames[k], again);
    EXPECT_TRUE(same_pixels(mask, again)) << k;
  }
  // A state of the exact numerics does not resume a run of the fast ones.
  SegmentOptions fast = o;
  fast.parameters.numerics = strellix::Numerics::fast;
  std::string message;
  EXPECT_EQ(failure_code([&] { load_checkpoint(fast); }, message), EXIT_NO_INPUT);
  EXPECT_NE(message.find("not of the fast"), std::string::npos) << message;
  std::ofstream(output_path(o, CHECKPOINT_STATE_FILE), std::ios::app) << "x";
  EXPECT_EQ(failure_code([&] { load_checkpoint(o); }, message), EXIT_NO_INPUT);
  EXPECT_NE(message.find("cannot resume from"), std::string::npos) << message;

  // A failed write says why, in the system's words.
  SegmentOptions nowhere = o;
  nowhere.output_dir = s.path("missing");
  EXPECT_NE(save_checkpoint(model, nowhere).find("missing/checkpoint.state: No such file or directory"),
            std::string::npos);

  // A checkpoint of other parameters, another frame size or more frames
  // than the input has is not this run's: refused, naming what differs.
  SegmentOptions other = o;
  other.parameters.layers = 2;
  other.parameters.threshold = 0.05;
  other.parameters.post_median = 3;
  other.parameters.threads = 7;  // changes no mask
  EXPECT_EQ(failure_code([&] { check_checkpoint_belongs(other, model, cv::Size(16, 12), -1); }, message),
            EXIT_NO_INPUT);
  EXPECT_NE(
      message.find("holds --layers 3, --threshold 0.005, --post-median 0, where the run has --layers 2, "
                   "--threshold 0.05, --post-median 3;"),
      std::string::npos)
      << message;
  EXPECT_EQ(failure_code([&] { check_checkpoint_belongs(o, model, cv::Size(16, 13), -1); }, message),
            EXIT_NO_INPUT);
  EXPECT_NE(message.find("frames of 16x12, where the run has frames of 16x13"), std::string::npos) << message;
  EXPECT_EQ(failure_code([&] { check_checkpoint_belongs(o, model, cv::Size(16, 12), 4); }, message),
            EXIT_NO_INPUT);
  EXPECT_NE(message.find("after frame 8 of the run"), std::string::npos) << message;
  other = o;
  other.parameters.threads = 7;
  EXPECT_EQ(failure_code([&] { check_checkpoint_belongs(other, model, cv::Size(16, 12), 8); }, message),
            EXIT_DONE);
}

TEST(Checkpoint, ResumeNamesTheFirstOptionThatDiffers) {
  ScratchDir s("checkpoint-run");
  const SegmentOptions o = options_in(s.root);
  const std::string description = describe_run(o, 1);
  EXPECT_EQ(description.find("\n%d"), std::string::npos) << description;  // escaped
  write_run_description(o, description);
  std::string message;
  EXPECT_EQ(failure_code([&] { check_run_description(o, describe_run(o, 1)); }, message), EXIT_DONE);

  SegmentOptions other = o;
  other.parameters.learning_rate = 0.25;
  other.no_masks = true;
  EXPECT_EQ(failure_code([&] { check_run_description(other, describe_run(other, 1)); }, message), EXIT_USAGE);
  EXPECT_NE(message.find("had --learning-rate 0.050000000000000003, this command 0.25"), std::string::npos)
      << message;
  EXPECT_EQ(failure_code([&] { check_run_description(o, describe_run(o, 2)); }, message), EXIT_USAGE);
  EXPECT_NE(message.find("--start 1, this command 2"), std::string::npos) << message;

  // A run of a version before the numeric modes was exact.
  const std::string older = description.substr(0, description.find("--numerics="));
  std::ofstream(output_path(o, CHECKPOINT_RUN_FILE)) << older;
  EXPECT_EQ(failure_code([&] { check_run_description(o, description); }, message), EXIT_DONE) << message;
  SegmentOptions fast = o;
  fast.parameters.numerics = strellix::Numerics::fast;
  EXPECT_EQ(failure_code([&] { check_run_description(fast, describe_run(fast, 1)); }, message), EXIT_USAGE);
  EXPECT_NE(message.find("had --numerics exact, this command fast"), std::string::npos) << message;

  // A description without a line this version writes is not a run of it.
  std::ofstream(output_path(o, CHECKPOINT_RUN_FILE)) << description.substr(0, description.find("--layers"));
  EXPECT_EQ(failure_code([&] { check_run_description(o, description); }, message), EXIT_NO_INPUT);
  EXPECT_NE(message.find("(no --layers)"), std::string::npos) << message;
}

}  // namespace
