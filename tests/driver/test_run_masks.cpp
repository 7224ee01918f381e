// End-to-end: the mask files of whole runs, derived by hand from the
// frames, and runs on video input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

struct Scratch : ScratchDir {
  Scratch() : ScratchDir("masks") {}
  std::string seq = path("seq");
};

cv::Mat mask_with(int width, int height, const std::vector<cv::Point>& foreground) {
  cv::Mat mask(height, width, CV_8UC1, cv::Scalar(0));
  for (const cv::Point& p : foreground) mask.at<unsigned char>(p) = 255;
  return mask;
}

void expect_mask(const std::string& dir, int k, const cv::Mat& expected) {
  cv::Mat got = read_mask(dir, k);
  ASSERT_FALSE(got.empty()) << "mask " << k << " missing";
  ASSERT_EQ(got.type(), CV_8UC1);
  ASSERT_EQ(got.size(), expected.size());
  for (int r = 0; r < got.rows; ++r) {
    for (int c = 0; c < got.cols; ++c) {
      EXPECT_EQ(got.at<unsigned char>(r, c), expected.at<unsigned char>(r, c))
          << "mask " << k << " row " << r << " col " << c;
    }
  }
}

// The scene of the moving-square runs: an 80x24 background with a 6x6
// square that moves 7 pixels right per frame, so that no pixel is covered
// twice in the first five frames and their median is the empty scene.
const cv::Vec3b SCENE(60, 90, 120);
const cv::Vec3b SQUARE(40, 240, 240);
constexpr int SIDE = 6;
constexpr int SQUARE_Y = 9;
int square_x(int k) {
  return 4 + 7 * (k - 1);
}

cv::Mat scene_frame(int k) {
  cv::Mat frame = solid_frame(80, 24, SCENE);
  paint_rect(frame, square_x(k), SQUARE_Y, SIDE, SIDE, SQUARE);
  return frame;
}

bool in_rect(int r, int c, int x, int y, int w, int h) {
  return r >= y && r < y + h && c >= x && c < x + w;
}

// An online mask: nothing outside the square, the 4x4 core of the square
// kept (at most 9 of its 25 window cells are background), the square's
// corners removed (16 of 25 are background).
void expect_online_square(const std::string& dir, int k) {
  cv::Mat mask = read_mask(dir, k);
  ASSERT_FALSE(mask.empty()) << "mask " << k;
  const int x = square_x(k);
  const int y = SQUARE_Y;
  for (int r = 0; r < mask.rows; ++r) {
    for (int c = 0; c < mask.cols; ++c) {
      const int value = mask.at<unsigned char>(r, c);
      if (!in_rect(r, c, x, y, SIDE, SIDE)) {
        EXPECT_EQ(value, 0) << "frame " << k << " outside at " << r << "," << c;
      } else if (in_rect(r, c, x + 1, y + 1, SIDE - 2, SIDE - 2)) {
        EXPECT_EQ(value, 255) << "frame " << k << " core at " << r << "," << c;
      }
    }
  }
  for (int r : {y, y + SIDE - 1}) {
    for (int c : {x, x + SIDE - 1}) EXPECT_EQ(mask.at<unsigned char>(r, c), 0) << "corner " << r << "," << c;
  }
}

}  // namespace

TEST(RunMasks, CalibrationMasksOfATinyRunByHand) {
  // Grey 6x5 scene. From frame 3 on: a red pixel and a brighter grey pixel
  // (no layer within the threshold, too bright for a shadow: 255), a darker
  // grey pixel (value ratio 0.8, same hue and saturation: shadow, shown as
  // 0) and a grey one step brighter (within the threshold: background).
  // With -end 4 and five layers every frame is a calibration frame, shown
  // without filtering, and unmatched pixels never teach the model, so the
  // red pixel is still foreground in frame 4.
  Scratch s;
  const cv::Vec3b grey(128, 128, 128);
  cv::Mat changed = solid_frame(6, 5, grey);
  changed.at<cv::Vec3b>(1, 1) = cv::Vec3b(0, 0, 255);
  changed.at<cv::Vec3b>(4, 0) = cv::Vec3b(160, 160, 160);
  changed.at<cv::Vec3b>(3, 4) = cv::Vec3b(102, 102, 102);
  changed.at<cv::Vec3b>(0, 5) = cv::Vec3b(129, 129, 129);
  cv::Mat still_red = solid_frame(6, 5, grey);
  still_red.at<cv::Vec3b>(1, 1) = cv::Vec3b(0, 0, 255);
  still_red.at<cv::Vec3b>(3, 4) = cv::Vec3b(102, 102, 102);
  ASSERT_TRUE(write_frames(s.seq, 1, {solid_frame(6, 5, grey), solid_frame(6, 5, grey), changed, still_red}));

  RunResult r = run_strellix({"-F", "1", "-end", "4"}, s.seq, s.root, 60);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  expect_mask(s.root, 1, mask_with(6, 5, {}));
  expect_mask(s.root, 2, mask_with(6, 5, {}));
  expect_mask(s.root, 3, mask_with(6, 5, {{1, 1}, {0, 4}}));
  expect_mask(s.root, 4, mask_with(6, 5, {{1, 1}}));
  EXPECT_TRUE(read_mask(s.root, 5).empty());
}

TEST(RunMasks, MovingSquareThroughBothStretches) {
  Scratch s;
  std::vector<cv::Mat> frames;
  for (int k = 1; k <= 10; ++k) frames.push_back(scene_frame(k));
  ASSERT_TRUE(write_frames(s.seq, 1, frames));
  RunResult r = run_strellix({"-F", "5", "-end", "10", "-n", "5"}, s.seq, s.root, 120);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(" 2  3  4  5  6  7  8  9  10 \n\nN. of images:"), std::string::npos) << r.out;

  EXPECT_EQ(count_value(read_mask(s.root, 1), 0), 80 * 24);
  // Calibration frames 2 to 5 are not filtered: exactly the square.
  for (int k = 2; k <= 5; ++k) {
    cv::Mat expected(24, 80, CV_8UC1, cv::Scalar(0));
    expected(cv::Rect(square_x(k), SQUARE_Y, SIDE, SIDE)).setTo(255);
    expect_mask(s.root, k, expected);
  }
  for (int k = 6; k <= 10; ++k) expect_online_square(s.root, k);
}

TEST(RunMasks, SingleLayerGoesStraightOnline) {
  Scratch s;
  std::vector<cv::Mat> frames;
  for (int k = 1; k <= 5; ++k) frames.push_back(scene_frame(k));
  ASSERT_TRUE(write_frames(s.seq, 1, frames));
  RunResult r =
      run_strellix({"-F", "5", "-end", "3", "-n", "1", "-w1d", "0", "-w2d", "0"}, s.seq, s.root, 60);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (int k = 2; k <= 3; ++k) expect_online_square(s.root, k);
}

TEST(RunMasks, VideoInput) {
  Scratch s;
  const std::string video = s.seq + ".avi";
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(32, 24));
    if (!writer.isOpened()) GTEST_SKIP() << "no video writer here";
    for (int k = 1; k <= 6; ++k) writer.write(solid_frame(32, 24, cv::Vec3b(60, 90, 120)));
  }
  const std::string head = "Output for video " + video + "\n(1) model initialization ...\n";
  {  // the video ends before -end: the loop stops without a message
    RunResult r = run_strellix({"-f", "-skip", "2", "-F", "3", "-n", "2", "-end", "100"}, s.seq, s.root, 60);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_NE(r.out.find("processing frame no.  2  3  4  5  6 \n\nN. of images:                              "
                         "                   100\n"),
              std::string::npos)
        << r.out;
    for (int k = 1; k <= 5; ++k) EXPECT_FALSE(read_mask(s.root, k).empty()) << k;
    EXPECT_TRUE(read_mask(s.root, 6).empty());
    EXPECT_TRUE(file_exists(s.root + "/InitialModel.png"));
  }
  {  // the median names the numbered frame that the video could not give
    RunResult r = run_strellix({"-f", "-skip", "2", "-F", "6"}, s.seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, head +
                         "    computing the median over 6 initial frames...\n"
                         "Unable to read expected file " +
                         s.seq + "6.png\n");
  }
  {  // -Boot reads the stored PNG also for video input
    RunResult r = run_strellix({"-f", "-Boot", "1"}, s.seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("    reading estimated background " + s.root + "/InitialModel.png...\n"),
              std::string::npos);
  }
}
