// The library's contract with the program: seeded with the median of the
// run's first F frames and handed frames ini, ini+1, ..., a Subtractor gives
// every mask the program writes, and after each frame the rendering of its
// PPM file.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

#include "strellix/strellix.hpp"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

std::string tool(const std::string& name) {
  return std::string(STRELLIX_TOOLS_DIR) + "/" + name;
}

void make_scene(const std::string& dir, int frames, int width, int height) {
  const RunResult made = run_binary({tool("make_sample_scene"), dir, "--frames", std::to_string(frames),
                                     "--width", std::to_string(width), "--height", std::to_string(height)},
                                    "/");
  ASSERT_EQ(made.exit_code, 0) << made.err;
}

std::vector<cv::Mat> read_frames(const std::string& prefix, int first, int last) {
  std::vector<cv::Mat> frames;
  for (int k = first; k <= last; ++k) frames.push_back(cv::imread(prefix + std::to_string(k) + ".png"));
  return frames;
}

// Runs the program on `prefix` in `out`, then drives a Subtractor with the
// same parameters over the same frames and compares what both give.
void expect_program_equality(const std::string& prefix, const std::string& out, int ini, int end, int F,
                             const std::vector<std::string>& switches, const strellix::Parameters& p,
                             bool renderings) {
  std::vector<std::string> args = {"-ini", std::to_string(ini), "-end", std::to_string(end),
                                   "-F",   std::to_string(F)};
  args.insert(args.end(), switches.begin(), switches.end());
  if (renderings) args.push_back("-SmodBG");
  const RunResult run = run_strellix(args, prefix, out);
  ASSERT_EQ(run.exit_code, 0) << run.err;

  const std::vector<cv::Mat> frames = read_frames(prefix, ini, end);
  strellix::Subtractor s(p);
  s.initialize(std::vector<cv::Mat>(frames.begin(), frames.begin() + F));
  const std::string base = prefix.substr(prefix.find_last_of('/') + 1);
  cv::Mat mask;
  for (int k = ini; k <= end; ++k) {
    s.apply(frames[static_cast<std::size_t>(k - ini)], mask);
    ASSERT_TRUE(same_pixels(mask, read_mask(out, k))) << "mask of frame " << k;
    if (!renderings || k == ini) continue;
    const cv::Mat ppm = cv::imread(out + "/" + base + "BGrepresentation." + std::to_string(k) + ".ppm");
    ASSERT_TRUE(same_pixels(s.background(), ppm)) << "rendering of frame " << k;
  }
}

}  // namespace

TEST(ProgramEquality, GeneratedSceneWithDefaultsAndWithOtherSwitches) {
  ScratchDir s("equality-scene");
  make_scene(s.root + "/scene", 40, 64, 48);
  ASSERT_EQ(run_binary({"/bin/mkdir", s.root + "/a", s.root + "/b"}, "/").exit_code, 0);
  expect_program_equality(s.root + "/scene/frame", s.root + "/a", 1, 40, 25, {}, strellix::Parameters(),
                          true);

  strellix::Parameters p;
  p.layers = 3;
  p.width_1d = 0;
  p.width_2d = 2;
  p.threshold = 0.01;
  p.learning_rate = 0.1;
  p.median_frames = 10;
  expect_program_equality(s.root + "/scene/frame", s.root + "/b", 3, 40, 10,
                          {"-n", "3", "-w1d", "0", "-w2d", "2", "-e", "0.01", "-lr", "0.1"}, p, false);
}

// A video run starting at its third frame (-skip 3) takes its median from
// frames 3 to 3+F-1 of the video, as initialize() does from those frames.
TEST(ProgramEquality, VideoWithSkip) {
  ScratchDir s("equality-video");
  make_scene(s.root + "/scene", 30, 48, 32);
  cv::VideoWriter writer(s.root + "/clip.avi", cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 25,
                         cv::Size(48, 32));
  if (!writer.isOpened()) GTEST_SKIP() << "no lossless video encoder here";
  for (int k = 1; k <= 30; ++k)
    writer.write(cv::imread(s.root + "/scene/frame" + std::to_string(k) + ".png"));
  writer.release();

  const RunResult run =
      run_strellix({"-f", "-skip", "3", "-ini", "3", "-end", "30", "-F", "12"}, s.root + "/clip", s.root);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  cv::VideoCapture capture(s.root + "/clip.avi");
  std::vector<cv::Mat> frames;
  for (cv::Mat f; capture.read(f);) frames.push_back(f.clone());
  ASSERT_EQ(frames.size(), 30u);

  strellix::Parameters p;
  p.median_frames = 12;
  strellix::Subtractor sub(p);
  sub.initialize(std::vector<cv::Mat>(frames.begin() + 2, frames.end()));
  cv::Mat mask;
  for (int k = 3; k <= 30; ++k) {
    sub.apply(frames[static_cast<std::size_t>(k - 1)], mask);
    ASSERT_TRUE(same_pixels(mask, read_mask(s.root, k))) << "mask of frame " << k;
  }
}

TEST(ProgramEquality, HighwayExcerpt) {
  const std::string input = std::string(STRELLIX_SHARED_DATA) + "/highway/input/in";
  char first[32];
  std::snprintf(first, sizeof first, "%06d.jpg", 1);
  if (!file_exists(input + first)) GTEST_SKIP() << "no highway frames beside the project";
  ScratchDir s("equality-highway");
  for (int k = 1; k <= 120; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.jpg", k);
    ASSERT_TRUE(write_frame(s.root + "/in", k, cv::imread(input + name)));
  }
  strellix::Parameters p;
  p.median_frames = 60;
  expect_program_equality(s.root + "/in", s.root, 1, 120, 60, {}, p, false);
}
