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

namespace {

// A sequence in the change-detection layout with one 4x2 ground truth per
// frame of [first, last] and the same mask for each: per frame the labels
// 255 255 0 0 / 50 50 170 85, the mask 255 0 255 0 / 255 127 255 0.
struct LabelledSequence : ScratchDir {
  LabelledSequence(long long first, long long last, const std::string& temporal_roi)
      : ScratchDir("cli-evaluate") {
    std::filesystem::create_directories(path("seq/groundtruth"));
    std::filesystem::create_directories(path("masks"));
    const cv::Mat truth = (cv::Mat_<uchar>(2, 4) << 255, 255, 0, 0, 50, 50, 170, 85);
    const cv::Mat mask = (cv::Mat_<uchar>(2, 4) << 255, 0, 255, 0, 255, 127, 255, 0);
    for (long long k = first; k <= last; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "%06lld.png", k);
      cv::imwrite(path("seq/groundtruth/gt") + name, truth);
      cv::imwrite(path("masks/mask") + name, mask);
    }
    std::FILE* f = std::fopen(path("seq/temporalROI.txt").c_str(), "w");
    std::fputs(temporal_roi.c_str(), f);
    std::fclose(f);
  }
  RunResult evaluate(std::vector<std::string> options) const {
    std::vector<std::string> args = {"evaluate", path("masks"), path("seq/groundtruth"), "--json"};
    args.insert(args.end(), options.begin(), options.end());
    return run_cli(args);
  }
};

}  // namespace

// Counted by hand from the 4x2 frame: TP 1, FN 1, FP 3 (a static pixel and
// both shadow pixels), TN 1; of the 2 shadow pixels 2 are called moving.
// With 127 read as the masks' shadow value, one shadow pixel is not: FP 2,
// TN 2, the shadow error rate 1/2.
TEST(Evaluate, CountsByHandWithTheShadowErrorRate) {
  LabelledSequence s(1, 3, "1 3");
  const RunResult r = s.evaluate({"--per-frame"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(json_value(r.out, "tp"), 3);
  EXPECT_EQ(json_value(r.out, "fn"), 3);
  EXPECT_EQ(json_value(r.out, "fp"), 9);
  EXPECT_EQ(json_value(r.out, "tn"), 3);
  EXPECT_EQ(json_value(r.out, "shadow"), 6);
  EXPECT_EQ(json_value(r.out, "shadow_moving"), 6);
  EXPECT_EQ(json_value(r.out, "shadow_error_rate"), 1.0);
  EXPECT_NE(r.out.find("{\"frame\": 3, \"tp\": 1, \"fp\": 3, \"fn\": 1, \"tn\": 1, \"shadow\": 2, "
                       "\"shadow_moving\": 2}"),
            std::string::npos)
      << r.out;
  const RunResult grey = s.evaluate({"--shadow-value", "127"});
  ASSERT_EQ(grey.exit_code, 0) << grey.err;
  EXPECT_EQ(json_value(grey.out, "fp"), 6);
  EXPECT_EQ(json_value(grey.out, "tn"), 6);
  EXPECT_EQ(json_value(grey.out, "shadow_error_rate"), 0.5);
  EXPECT_EQ(s.evaluate({"--shadow-value", "255"}).exit_code, 2);  // what moving objects carry
}

// An excerpt: temporalROI.txt names the whole sequence, the ground truth is
// there for a part of it; that part is scored (within a run's frames when
// asked), and where the two share no frame both are named.
TEST(Evaluate, ScoresTheFramesTemporalRoiAndTheGroundTruthShare) {
  LabelledSequence s(40, 49, "1 45\n");
  const RunResult r = s.evaluate({});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(json_value(r.out, "first"), 40);
  EXPECT_EQ(json_value(r.out, "last"), 45);
  EXPECT_EQ(json_value(s.evaluate({"--first", "44"}).out, "first"), 44);
  const RunResult within = s.evaluate({"--within", "42-60"});  // the frames a run did
  EXPECT_EQ(json_value(within.out, "first"), 42);
  EXPECT_EQ(json_value(within.out, "last"), 45);

  LabelledSequence apart(40, 49, "1 30");
  const RunResult none = apart.evaluate({});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_NE(none.err.find("names frames 1-30 and " + apart.path("seq/groundtruth") +
                          " holds ground truth for frames 40-49"),
            std::string::npos)
      << none.err;
}

// What would score a wrong result says so: a masks directory that is not
// there, a missing mask (unless asked to count it as background), a
// temporalROI.txt that holds no frame numbers; a region of interest of
// another size is left out with a warning, in the JSON too.
TEST(Evaluate, RefusesOrWarnsWhereTheScoreWouldBeWrong) {
  LabelledSequence s(1, 4, "1 4");
  const RunResult no_dir = run_cli({"evaluate", s.path("nowhere"), s.path("seq/groundtruth")});
  EXPECT_EQ(no_dir.exit_code, 1);
  EXPECT_NE(no_dir.err.find("the masks directory " + s.path("nowhere") + " does not exist"),
            std::string::npos);

  std::filesystem::remove(s.path("masks/mask000003.png"));
  const RunResult missing = s.evaluate({});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("1 of the 4 masks of frames 1-4 are missing, the first " +
                             s.path("masks/mask000003.png")),
            std::string::npos)
      << missing.err;
  const RunResult counted = s.evaluate({"--missing-as-background"});
  ASSERT_EQ(counted.exit_code, 0) << counted.err;
  EXPECT_EQ(json_value(counted.out, "missing_masks"), 1);
  EXPECT_EQ(json_value(counted.out, "fn"), 5);  // frame 3's object pixel, missed
  EXPECT_NE(counted.out.find("\"warnings\": [\"1 of 4 mask files missing"), std::string::npos) << counted.out;

  cv::imwrite(s.path("roi.png"), cv::Mat(3, 4, CV_8UC1, cv::Scalar(0)));
  const RunResult roi = s.evaluate({"--missing-as-background", "--roi", s.path("roi.png")});
  ASSERT_EQ(roi.exit_code, 0) << roi.err;
  EXPECT_EQ(json_value(roi.out, "tn"), json_value(counted.out, "tn"));  // the whole frame scored
  EXPECT_NE(roi.err.find("roi.png is 4x3, the frames are 4x2; scoring the whole frame"), std::string::npos);
  EXPECT_NE(roi.out.find("roi.png is 4x3"), std::string::npos);

  for (const std::string garbage : {"abc 12", "", "7"}) {
    std::FILE* f = std::fopen(s.path("seq/temporalROI.txt").c_str(), "w");
    std::fputs(garbage.c_str(), f);
    std::fclose(f);
    const RunResult r = s.evaluate({});
    EXPECT_EQ(r.exit_code, 1) << garbage;
    EXPECT_NE(r.err.find("temporalROI.txt should hold the first and last scored frame"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("it holds \"" + garbage + "\""), std::string::npos) << r.err;
  }
}
