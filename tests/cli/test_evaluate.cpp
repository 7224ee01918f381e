// The quick start as a new user meets it: an mp4, masks and a quick-look
// overlay from `strellix segment`, the metrics from `strellix evaluate`.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/cli_runs.h"
#include "support/scratch_dir.h"

TEST(Evaluate, Mp4ToMasksOverlayAndMetrics) {
  const std::string& scene = sample_scene(150, 160, 120);
  const std::string truth = std::filesystem::path(scene).parent_path().string() + "/groundtruth";
  ScratchDir s("cli-quickstart");
  cv::VideoWriter writer(s.path("clip.mp4"), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', '4', 'v'), 25,
                         cv::Size(160, 120));
  if (!writer.isOpened()) GTEST_SKIP() << "no mp4 encoder";
  for (int k = 1; k <= 150; ++k) writer.write(cv::imread(scene + std::to_string(k) + ".png"));
  writer.release();

  const RunResult run =
      run_cli({"segment", s.path("clip.mp4"), "-o", s.path("out"), "--overlay", "overlay.mp4"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(cv::VideoCapture(s.path("out/overlay.mp4"), cv::CAP_FFMPEG).get(cv::CAP_PROP_FRAME_COUNT), 150);

  const RunResult text = run_cli({"evaluate", s.path("out"), truth});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.err, "");  // every mask there
  const RunResult json = run_cli({"evaluate", s.path("out"), truth, "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  // Scored over 21-150 from temporalROI.txt; the lossy video costs a little.
  EXPECT_EQ(json_value(json.out, "first"), 21);
  EXPECT_GT(json_value(json.out, "f_measure"), 0.9) << json.out;
  EXPECT_NE(text.out.find("TP: " + std::to_string(static_cast<long long>(json_value(json.out, "tp")))),
            std::string::npos);
}
