// The example written against cv::BackgroundSubtractor runs each of its
// subtractors on a generated clip, headless, and with Strellix writes the
// masks of `strellix segment --cold-start` on the same clip.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

#include "support/cli_runs.h"
#include "support/frames.h"
#include "support/scratch_dir.h"

TEST(Examples, ChooseSubtractorRunsEachAndStrellixGivesTheMasksOfSegment) {
  ScratchDir s("example-choose");
  // Longer than the 100 frames the default cold start keeps.
  const std::vector<cv::Mat> frames = scene_with_shadow(120, 48, 36);
  const std::string clip = s.path("clip.mkv");
  {
    cv::VideoWriter writer(clip, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 25.0, frames[0].size());
    ASSERT_TRUE(writer.isOpened());
    for (const cv::Mat& f : frames) writer.write(f);
  }
  for (const std::string word : {"mog2", "knn", "strellix"}) {
    const std::string out = s.path(word);
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const RunResult r = run_binary({STRELLIX_EXAMPLE_BINARY, word, clip, out}, s.root);
    ASSERT_EQ(r.exit_code, 0) << word << ": " << r.err;
    EXPECT_NE(r.out.find(word + ": 120 frames"), std::string::npos) << r.out;
  }
  const RunResult segment = run_cli({"segment", clip, "-o", s.path("segment"), "--cold-start", "-q"});
  ASSERT_EQ(segment.exit_code, 0) << segment.err;
  EXPECT_EQ(differing_masks(s.path("strellix"), "mask", s.path("segment"), "mask", 1, 120), 0);
  EXPECT_GT(cv::countNonZero(read_numbered_mask(s.path("strellix"), "mask", 110)), 0);
}
