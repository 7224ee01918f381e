// The sample scene generator, the mask scorer (`strellix evaluate`) and the
// frame converter, run as the scripts run them: as separate programs.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string tool_path(const std::string& name) {
  return std::string(STRELLIX_TOOLS_DIR) + "/" + name;
}

#define REQUIRE_CLI()                                                              \
  do {                                                                             \
    if (!file_exists(STRELLIX_CLI_BINARY)) GTEST_SKIP() << "build strellix first"; \
  } while (0)

#define REQUIRE_TOOL(name)                                                     \
  do {                                                                         \
    if (!file_exists(tool_path(name))) GTEST_SKIP() << "build " name " first"; \
  } while (0)

uint64_t fnv1a(const std::string& bytes, uint64_t hash = 1469598103934665603ULL) {
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

// One hash over every file of a tree, names included, in a fixed order.
uint64_t hash_tree(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dir).string());
  std::sort(files.begin(), files.end());
  uint64_t hash = fnv1a(std::to_string(files.size()));
  for (const std::string& f : files) hash = fnv1a(read_file(dir + "/" + f), fnv1a(f, hash));
  return hash;
}

RunResult generate(const std::string& out_dir, const std::vector<std::string>& options) {
  std::vector<std::string> args = {tool_path("make_sample_scene"), out_dir};
  args.insert(args.end(), options.begin(), options.end());
  return run_binary(args, "", 120);
}

// `strellix evaluate` on masks named as Strellixplus names them, unless
// the options name them otherwise.
RunResult evaluate(const std::vector<std::string>& options) {
  std::vector<std::string> args = {STRELLIX_CLI_BINARY, "evaluate"};
  args.insert(args.end(), options.begin(), options.end());
  if (std::find(options.begin(), options.end(), "--mask-pattern") == options.end()) {
    args.push_back("--mask-pattern");
    args.push_back("bin%06d.png");
  }
  return run_binary(args, "", 120);
}

// The value printed as "NAME: value"; NaN when the line is missing.
double metric(const std::string& out, const std::string& name) {
  std::string text = "\n" + out;
  size_t at = text.find("\n" + name + ": ");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(text.c_str() + at + 1 + name.size() + 2, nullptr);
}

cv::Mat frame(const std::string& dir, int k) {
  return cv::imread(dir + "/frame" + std::to_string(k) + ".png");
}

cv::Mat truth(const std::string& dir, int k) {
  char name[32];
  std::snprintf(name, sizeof name, "/groundtruth/gt%06d.png", k);
  return cv::imread(dir + name, cv::IMREAD_UNCHANGED);
}

int value_of(const cv::Vec3b& bgr) {
  return std::max({bgr[0], bgr[1], bgr[2]});
}

// ---------------------------------------------------------------- generator

TEST(SampleScene, SameArgumentsGiveTheSameBytesAndTheSeedOnlyChangesTheNoise) {
  REQUIRE_TOOL("make_sample_scene");
  ScratchDir tmp("scene");
  ASSERT_EQ(generate(tmp.path("a"), {"--frames", "40", "--seed", "7"}).exit_code, 0);
  ASSERT_EQ(generate(tmp.path("b"), {"--frames", "40", "--seed", "7"}).exit_code, 0);
  ASSERT_EQ(generate(tmp.path("c"), {"--frames", "40", "--seed", "8"}).exit_code, 0);
  EXPECT_EQ(hash_tree(tmp.path("a")), hash_tree(tmp.path("b")));
  EXPECT_NE(hash_tree(tmp.path("a")), hash_tree(tmp.path("c")));
  // The objects follow the same paths whatever the seed.
  EXPECT_EQ(hash_tree(tmp.path("a/groundtruth")), hash_tree(tmp.path("c/groundtruth")));
  EXPECT_EQ(read_file(tmp.path("a/temporalROI.txt")), "21 40\n");
}

TEST(SampleScene, SizeAndFrameCountFollowTheOptions) {
  REQUIRE_TOOL("make_sample_scene");
  ScratchDir tmp("scene");
  ASSERT_EQ(generate(tmp.root, {"--frames", "3", "--width", "64", "--height", "48"}).exit_code, 0);
  cv::Mat first = frame(tmp.root, 1);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.cols, 64);
  EXPECT_EQ(first.rows, 48);
  EXPECT_EQ(truth(tmp.root, 3).type(), CV_8UC1);
  EXPECT_TRUE(file_exists(tmp.path("frame3.png")));
  EXPECT_FALSE(file_exists(tmp.path("frame4.png")));
  EXPECT_FALSE(file_exists(tmp.path("frame0.png")));
  EXPECT_EQ(read_file(tmp.path("temporalROI.txt")), "3 3\n");
}

TEST(SampleScene, UnusableCommandLinesAreRefused) {
  REQUIRE_TOOL("make_sample_scene");
  ScratchDir tmp("scene");
  EXPECT_EQ(run_binary({tool_path("make_sample_scene")}, "").exit_code, 2);
  EXPECT_EQ(generate(tmp.path("x"), {"--frames", "0"}).exit_code, 2);
  EXPECT_EQ(generate(tmp.path("x"), {"--frames"}).exit_code, 2);
  EXPECT_EQ(generate(tmp.path("x"), {"--width", "12x"}).exit_code, 2);
  EXPECT_EQ(generate(tmp.path("x"), {"--seed", "-1"}).exit_code, 2);
  EXPECT_EQ(generate(tmp.path("x"), {"--colour", "red"}).exit_code, 2);
  EXPECT_FALSE(file_exists(tmp.path("x")));
}

class DefaultScene : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir("scene");
    if (file_exists(tool_path("make_sample_scene"))) status_ = generate(dir_->root, {}).exit_code;
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    REQUIRE_TOOL("make_sample_scene");
    ASSERT_EQ(status_, 0);
  }
  static ScratchDir* dir_;
  static int status_;
};
ScratchDir* DefaultScene::dir_ = nullptr;
int DefaultScene::status_ = -1;

TEST_F(DefaultScene, GroundTruthUsesTheBenchmarkLabelsAndObjectsEnterLate) {
  long long objects = 0, shadows = 0;
  for (int k = 1; k <= 150; ++k) {
    cv::Mat gt = truth(dir_->root, k);
    ASSERT_EQ(gt.size(), cv::Size(160, 120)) << k;
    for (auto it = gt.begin<uint8_t>(); it != gt.end<uint8_t>(); ++it) {
      uint8_t v = *it;
      ASSERT_TRUE(v == 0 || v == 50 || v == 170 || v == 255) << "frame " << k << " label " << int(v);
      if (k <= 20) {
        ASSERT_EQ(v, 0) << "frame " << k;
      }
      objects += v == 255;
      shadows += v == 50;
    }
  }
  // Several objects and their shadows, each a few percent of the frames.
  EXPECT_GT(objects, 150LL * 160 * 120 / 50);
  EXPECT_GT(shadows, 150LL * 160 * 120 / 200);
  EXPECT_EQ(read_file(dir_->path("temporalROI.txt")), "21 150\n");
}

// The program's default start takes the median over frames 1..100; the scene
// must leave that median at the background.
TEST_F(DefaultScene, MedianOfTheFirstHundredFramesIsTheBackground) {
  std::vector<cv::Mat> frames;
  for (int k = 1; k <= 100; ++k) frames.push_back(frame(dir_->root, k));
  cv::Mat empty_scene = frames[0];
  int worst = 0;
  std::vector<uint8_t> values(frames.size());
  for (int p = 0; p < empty_scene.rows * empty_scene.cols * 3; ++p) {
    for (size_t k = 0; k < frames.size(); ++k) values[k] = frames[k].data[p];
    std::nth_element(values.begin(), values.begin() + 50, values.end());
    worst = std::max(worst, std::abs(int(values[50]) - int(empty_scene.data[p])));
  }
  EXPECT_LE(worst, 8);  // noise of +-3 on both sides and a little drift
}

TEST_F(DefaultScene, ShadowsAreDarkerObjectsDifferAndTheLightDrifts) {
  cv::Mat empty_scene = frame(dir_->root, 1);
  int shadow_pixels = 0, object_pixels = 0;
  double object_difference = 0;
  for (int k = 40; k <= 100; k += 20) {
    cv::Mat image = frame(dir_->root, k), gt = truth(dir_->root, k);
    for (int y = 0; y < gt.rows; ++y)
      for (int x = 0; x < gt.cols; ++x) {
        const cv::Vec3b& seen = image.at<cv::Vec3b>(y, x);
        const cv::Vec3b& bare = empty_scene.at<cv::Vec3b>(y, x);
        if (gt.at<uint8_t>(y, x) == 50) {
          double ratio = double(value_of(seen)) / value_of(bare);
          ASSERT_GE(ratio, 0.70) << k << " " << x << "," << y;
          ASSERT_LE(ratio, 0.92) << k << " " << x << "," << y;
          ++shadow_pixels;
        } else if (gt.at<uint8_t>(y, x) == 255) {
          object_difference +=
              std::abs(seen[0] - bare[0]) + std::abs(seen[1] - bare[1]) + std::abs(seen[2] - bare[2]);
          ++object_pixels;
        }
      }
  }
  EXPECT_GT(shadow_pixels, 100);
  ASSERT_GT(object_pixels, 100);
  EXPECT_GT(object_difference / object_pixels, 60.0);

  // Mean brightness of the untouched background rises by a few percent.
  auto background_mean = [&](int k) {
    cv::Mat image = frame(dir_->root, k), gt = truth(dir_->root, k);
    return cv::mean(image, gt == 0);
  };
  cv::Scalar start = background_mean(1), late = background_mean(150);
  for (int c = 0; c < 3; ++c) {
    EXPECT_GT(late[c] / start[c], 1.02) << c;
    EXPECT_LT(late[c] / start[c], 1.07) << c;
  }
}

// The whole chain on the sample: the program with its defaults and the
// default median over 100 frames, scored over 21..150. Measured F-measure
// 0.987 (no false positives: every shadow is recognised as such); a broken
// shadow test alone would bring it down to about 0.8.
TEST_F(DefaultScene, ProgramFindsTheObjectsOfTheSample) {
  if (!file_exists(STRELLIX_BINARY)) GTEST_SKIP() << "Strellixplus is not built";
  REQUIRE_CLI();
  ScratchDir run("scene");
  RunResult program = run_strellix({"-end", "150"}, dir_->path("frame"), run.root, 300);
  ASSERT_EQ(program.exit_code, 0) << program.out << program.err;
  ASSERT_TRUE(file_exists(run.path("bin000150.png")));
  RunResult score = evaluate({run.root, dir_->path("groundtruth")});
  ASSERT_EQ(score.exit_code, 0) << score.err;
  EXPECT_EQ(score.err, "");  // no mask missing
  EXPECT_GT(metric(score.out, "F-measure"), 0.96) << score.out;
  EXPECT_GT(metric(score.out, "Precision"), 0.97) << score.out;
  EXPECT_GT(metric(score.out, "Recall"), 0.95) << score.out;
}

// ---------------------------------------------------------------- scoring

// Ground truth and masks of a few frames, written where the scorer looks.
struct ScoringCase {
  ScratchDir tmp{"scoring"};
  std::string gt_dir = tmp.path("seq/groundtruth");
  std::string mask_dir = tmp.path("masks");
  ScoringCase() {
    fs::create_directories(gt_dir);
    fs::create_directories(mask_dir);
  }
  void put_truth(int k, const cv::Mat& gt) const {
    char name[32];
    std::snprintf(name, sizeof name, "/gt%06d.png", k);
    ASSERT_TRUE(cv::imwrite(gt_dir + name, gt));
  }
  void put_mask(int k, const cv::Mat& mask) const {
    char name[32];
    std::snprintf(name, sizeof name, "/bin%06d.png", k);
    ASSERT_TRUE(cv::imwrite(mask_dir + name, mask));
  }
};

// A 10x10 frame of known make-up: row 0-1 object (20), rows 2-7 static (60),
// row 8 shadow (10), row 9 half outside the ROI (85) and half unknown (170).
cv::Mat known_truth() {
  cv::Mat gt(10, 10, CV_8UC1, cv::Scalar(0));
  gt.rowRange(0, 2).setTo(255);
  gt.row(8).setTo(50);
  gt.row(9).colRange(0, 5).setTo(85);
  gt.row(9).colRange(5, 10).setTo(170);
  return gt;
}

// 15 of the 20 object pixels found, 4 static and 2 shadow pixels taken for
// objects, and everything in the unscored row marked too.
cv::Mat known_mask() {
  cv::Mat mask(10, 10, CV_8UC1, cv::Scalar(0));
  mask.row(0).setTo(255);
  mask.row(1).colRange(0, 5).setTo(255);
  mask.row(4).colRange(0, 4).setTo(255);
  mask.row(8).colRange(0, 2).setTo(255);
  mask.row(9).setTo(255);
  return mask;
}

TEST(EvaluateMasks, PerfectMaskScoresOne) {
  REQUIRE_CLI();
  ScoringCase c;
  c.put_truth(1, known_truth());
  c.put_mask(1, known_truth() == 255);
  RunResult r = evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(metric(r.out, "F-measure"), 1.0);
  EXPECT_EQ(metric(r.out, "Recall"), 1.0);
  EXPECT_EQ(metric(r.out, "Precision"), 1.0);
  EXPECT_EQ(metric(r.out, "Percentage of wrong classifications"), 0.0);
}

TEST(EvaluateMasks, KnownCountsGiveKnownMetricsAndUnscoredLabelsAreIgnored) {
  REQUIRE_CLI();
  ScoringCase c;
  c.put_truth(5, known_truth());
  c.put_mask(5, known_mask());
  RunResult r = evaluate({c.mask_dir, c.gt_dir, "--first", "5", "--last", "5"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(metric(r.out, "TP"), 15);
  EXPECT_EQ(metric(r.out, "FN"), 5);
  EXPECT_EQ(metric(r.out, "FP"), 6);
  EXPECT_EQ(metric(r.out, "TN"), 64);
  EXPECT_NEAR(metric(r.out, "Recall"), 0.75, 1e-6);
  EXPECT_NEAR(metric(r.out, "Specificity"), 64.0 / 70, 1e-6);
  EXPECT_NEAR(metric(r.out, "False positive rate"), 6.0 / 70, 1e-6);
  EXPECT_NEAR(metric(r.out, "False negative rate"), 0.25, 1e-6);
  EXPECT_NEAR(metric(r.out, "Percentage of wrong classifications"), 1100.0 / 90, 1e-6);
  EXPECT_NEAR(metric(r.out, "Precision"), 15.0 / 21, 1e-6);
  EXPECT_NEAR(metric(r.out, "F-measure"), 30.0 / 41, 1e-6);
}

TEST(EvaluateMasks, CountsAreSummedOverFramesBeforeTheRatios) {
  REQUIRE_CLI();
  ScoringCase c;
  cv::Mat small(1, 10, CV_8UC1, cv::Scalar(0)), large(1, 10, CV_8UC1, cv::Scalar(255));
  small.at<uint8_t>(0, 0) = 255;
  c.put_truth(1, small);
  c.put_mask(1, small);  // 1 of 1 found
  c.put_truth(2, large);
  c.put_mask(2, cv::Mat::zeros(1, 10, CV_8UC1));  // 0 of 10 found
  RunResult r = evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(metric(r.out, "Recall"), 1.0 / 11, 1e-6);  // not the mean 0.5
  EXPECT_NEAR(metric(r.out, "F-measure"), 2.0 / 12, 1e-6);
}

TEST(EvaluateMasks, RegionOfInterestLimitsScoringUnlessItHasTheWrongSize) {
  REQUIRE_CLI();
  ScoringCase c;
  c.put_truth(1, known_truth());
  c.put_mask(1, known_mask());
  cv::Mat roi(10, 10, CV_8UC1, cv::Scalar(255));
  roi.rowRange(4, 5).setTo(0);  // hides the 4 static false positives
  ASSERT_TRUE(cv::imwrite(c.tmp.path("ROI.bmp"), roi));
  RunResult r =
      evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1", "--roi", c.tmp.path("ROI.bmp")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(metric(r.out, "FP"), 2);
  EXPECT_EQ(metric(r.out, "TN"), 58);
  EXPECT_EQ(metric(r.out, "TP"), 15);

  ASSERT_TRUE(cv::imwrite(c.tmp.path("small.bmp"), cv::Mat(5, 5, CV_8UC1, cv::Scalar(0))));
  r = evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1", "--roi", c.tmp.path("small.bmp")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning"), std::string::npos);
  EXPECT_EQ(metric(r.out, "FP"), 6);

  r = evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1", "--roi", c.tmp.path("none.bmp")});
  EXPECT_EQ(r.exit_code, 1);
}

TEST(EvaluateMasks, MissingMasksFailUnlessCountedAsBackgroundAndTheRangeComesFromTheSequence) {
  REQUIRE_CLI();
  ScoringCase c;
  for (int k = 3; k <= 6; ++k) c.put_truth(k, known_truth());
  c.put_mask(4, known_mask());
  std::ofstream(c.tmp.path("seq/temporalROI.txt")) << "4 6\n";
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir + "/"}).exit_code, 1);
  RunResult r = evaluate({c.mask_dir, c.gt_dir + "/", "--missing-as-background"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Frames: 4-6"), std::string::npos);
  EXPECT_NE(r.err.find("2 of 3 mask files missing"), std::string::npos);
  EXPECT_EQ(metric(r.out, "TP"), 15);
  EXPECT_EQ(metric(r.out, "FN"), 5 + 2 * 20);
  EXPECT_EQ(metric(r.out, "TN"), 64 + 2 * 70);

  // One bound given, the other from temporalROI.txt.
  r = evaluate({c.mask_dir, c.gt_dir, "--last", "4"});
  EXPECT_NE(r.out.find("Frames: 4-4"), std::string::npos);
  // No range at all, or a frame without ground truth, is an error.
  fs::remove(c.tmp.path("seq/temporalROI.txt"));
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir}).exit_code, 2);
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir, "--first", "2", "--last", "4"}).exit_code, 1);
}

TEST(EvaluateMasks, AnyNonzeroMaskValueCountsAndBadInputsAreRefused) {
  REQUIRE_CLI();
  ScoringCase c;
  cv::Mat gt(2, 2, CV_8UC1, cv::Scalar(255));
  c.put_truth(1, gt);
  cv::Mat colour(2, 2, CV_8UC3, cv::Scalar(0, 0, 0));
  colour.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 1);
  colour.at<cv::Vec3b>(1, 1) = cv::Vec3b(7, 0, 0);
  ASSERT_TRUE(cv::imwrite(c.mask_dir + "/m0001.png", colour));
  RunResult r =
      evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1", "--mask-pattern", "m%.4d.png"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(metric(r.out, "TP"), 2);
  EXPECT_EQ(metric(r.out, "FN"), 2);

  // Name patterns take one integer field and nothing that printf would
  // read beyond it.
  for (const char* bad : {"m%s.png", "m%d%d.png", "m.png", "m%n.png"})
    EXPECT_EQ(
        evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1", "--mask-pattern", bad}).exit_code, 2)
        << bad;
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir, "--first", "x1", "--last", "1"}).exit_code, 2);
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir, "--first", "3", "--last", "1"}).exit_code, 2);
  EXPECT_EQ(evaluate({c.mask_dir}).exit_code, 2);
  // A mask of another size cannot be scored.
  c.put_mask(1, cv::Mat::zeros(3, 3, CV_8UC1));
  EXPECT_EQ(evaluate({c.mask_dir, c.gt_dir, "--first", "1", "--last", "1"}).exit_code, 1);
}

// ---------------------------------------------------------------- frames

TEST(ConvertFrames, JpegFramesBecomePngWithoutLeadingZerosAndPngFramesAreLinked) {
  REQUIRE_TOOL("convert_frames");
  ScratchDir tmp("scene");
  fs::create_directories(tmp.path("jpg"));
  fs::create_directories(tmp.path("png"));
  cv::Mat image(8, 8, CV_8UC3, cv::Scalar(10, 120, 240));
  for (int k : {19, 110, 112}) {
    char name[32];
    std::snprintf(name, sizeof name, "jpg/in%06d.jpg", k);
    ASSERT_TRUE(cv::imwrite(tmp.path(name), image));
  }
  ASSERT_TRUE(cv::imwrite(tmp.path("png/in000000.png"), image));
  ASSERT_TRUE(cv::imwrite(tmp.path("jpg/notes.png"), image));

  RunResult r = run_binary({tool_path("convert_frames"), tmp.path("jpg"), tmp.path("out/in")}, "");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("frames 19 112 3"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("91 frames"), std::string::npos) << r.err;  // 20..109 and 111
  cv::Mat converted = cv::imread(tmp.path("out/in110.png"));
  ASSERT_FALSE(converted.empty());
  EXPECT_LE(cv::norm(converted, image, cv::NORM_INF), 4);  // JPEG is lossy
  EXPECT_FALSE(file_exists(tmp.path("out/in000110.png")));

  r = run_binary({tool_path("convert_frames"), tmp.path("png"), tmp.path("out/in")}, "");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(tmp.path("out/in0.png")));
  EXPECT_EQ(read_file(tmp.path("out/in0.png")), read_file(tmp.path("png/in000000.png")));

  // No numbered frame at all is an error, not an empty success.
  fs::create_directories(tmp.path("empty"));
  EXPECT_EQ(run_binary({tool_path("convert_frames"), tmp.path("empty"), tmp.path("x/in")}, "").exit_code, 1);
  EXPECT_EQ(run_binary({tool_path("convert_frames"), tmp.path("absent"), tmp.path("x/in")}, "").exit_code, 1);
}

}  // namespace
