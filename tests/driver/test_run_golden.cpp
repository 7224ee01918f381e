// End-to-end: outputs that must never change by accident (a golden hash of
// a fixed generated run), video input against the same frames as PNG files,
// and the exchange of the two label buffers between online frames.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/pass_table.h"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

std::string tool(const std::string& name) {
  return std::string(STRELLIX_TOOLS_DIR) + "/" + name;
}

// FNV-1a over bytes; the mask images are hashed by their decoded pixels so
// that the hash does not depend on the PNG encoder's version.
void fnv_add(std::uint64_t& hash, const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
}

void fnv_add_image(std::uint64_t& hash, const cv::Mat& image) {
  for (int r = 0; r < image.rows; ++r) fnv_add(hash, image.ptr(r), image.cols * image.elemSize());
}

std::string hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Masks of frames first..last in `dir`, each required to exist.
std::vector<cv::Mat> read_masks(const std::string& dir, int first, int last) {
  std::vector<cv::Mat> masks;
  for (int k = first; k <= last; ++k) {
    masks.push_back(read_mask(dir, k));
    EXPECT_FALSE(masks.back().empty()) << "mask " << k << " missing in " << dir;
  }
  return masks;
}

}  // namespace

// A fixed run on the generated scene: every mask pixel and every rendering
// byte, from the default passes and from each exact entry of the pass
// table this processor runs, forced through the environment. A change of
// these hashes must be deliberate: outputs of the program are compared
// across builds and versions by its users.
TEST(RunGolden, MasksAndRenderingsOfAFixedRunAreUnchangedOnEveryPath) {
  if (!file_exists(tool("make_sample_scene"))) GTEST_SKIP() << "make_sample_scene not built";
  ScratchDir s("golden");
  RunResult made = run_binary(
      {tool("make_sample_scene"), s.root + "/scene", "--frames", "40", "--width", "64", "--height", "48"},
      s.root);
  ASSERT_EQ(made.exit_code, 0) << made.err;

  std::vector<std::string> entries = {""};
  for (const strellix::PassSet* set : strellix::pass_sets())
    if (set->exact) entries.push_back(set->name);
  ASSERT_GE(entries.size(), 3u);
  for (const std::string& passes : entries) {
    const std::string out = s.path("out-" + passes);
    ASSERT_EQ(run_binary({"/bin/mkdir", out}, s.root).exit_code, 0);
    RunResult run = run_strellix({"-end", "40", "-F", "25", "-SmodBG"}, s.root + "/scene/frame", out, 300,
                                 {"STRELLIX_PASSES=" + passes});
    ASSERT_EQ(run.exit_code, 0) << passes << ": " << run.err;

    std::uint64_t masks = 14695981039346656037ull;
    std::uint64_t renderings = 14695981039346656037ull;
    for (int k = 1; k <= 40; ++k) {
      cv::Mat mask = read_mask(out, k);
      ASSERT_FALSE(mask.empty()) << passes << ": mask " << k;
      fnv_add_image(masks, mask);
      if (k == 1) continue;  // frame ini has no rendering
      const std::string ppm = read_file(out + "/frameBGrepresentation." + std::to_string(k) + ".ppm");
      ASSERT_FALSE(ppm.empty()) << passes << ": rendering " << k;
      fnv_add(renderings, ppm.data(), ppm.size());
    }
    EXPECT_EQ(hex(masks), "fe29866739711668") << passes;
    EXPECT_EQ(hex(renderings), "7193b63cb3fb3cd8") << passes;
  }
}

// The same frames read from a video and from numbered PNG files give the
// same masks: the frames are taken from the decoded video itself, so the
// codec's losses do not matter.
TEST(RunGolden, VideoInputGivesTheMasksOfTheSameFramesAsFiles) {
  if (!file_exists(tool("make_sample_scene"))) GTEST_SKIP() << "make_sample_scene not built";
  ScratchDir s("video-vs-png");
  ASSERT_EQ(run_binary({tool("make_sample_scene"), s.root + "/scene", "--frames", "30", "--width", "48",
                        "--height", "32"},
                       s.root)
                .exit_code,
            0);
  const std::string video_seq = s.root + "/video/clip";
  const std::string png_seq = s.root + "/png/clip";
  ASSERT_EQ(run_binary({"/bin/mkdir", "-p", s.root + "/video", s.root + "/png", s.root + "/out-video",
                        s.root + "/out-png"},
                       s.root)
                .exit_code,
            0);

  cv::VideoWriter writer(video_seq + ".avi", cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 25,
                         cv::Size(48, 32));
  if (!writer.isOpened()) GTEST_SKIP() << "no lossless video encoder here";
  for (int k = 1; k <= 30; ++k) {
    writer.write(cv::imread(s.root + "/scene/frame" + std::to_string(k) + ".png"));
  }
  writer.release();

  cv::VideoCapture capture(video_seq + ".avi");
  ASSERT_TRUE(capture.isOpened());
  cv::Mat frame;
  int count = 0;
  while (capture.read(frame)) ASSERT_TRUE(write_frame(png_seq, ++count, frame));
  ASSERT_EQ(count, 30);

  // -skip 3 starts the video run at its third frame, which is PNG frame 3.
  const std::vector<std::string> common = {"-ini", "3", "-end", "30", "-F", "12"};
  std::vector<std::string> video_switches = common;
  video_switches.insert(video_switches.end(), {"-f", "-skip", "3"});
  RunResult by_video = run_strellix(video_switches, video_seq, s.root + "/out-video");
  RunResult by_png = run_strellix(common, png_seq, s.root + "/out-png");
  ASSERT_EQ(by_video.exit_code, 0) << by_video.err;
  ASSERT_EQ(by_png.exit_code, 0) << by_png.err;

  std::vector<cv::Mat> video_masks = read_masks(s.root + "/out-video", 3, 30);
  std::vector<cv::Mat> png_masks = read_masks(s.root + "/out-png", 3, 30);
  int foreground = 0;
  for (std::size_t i = 0; i < video_masks.size(); ++i) {
    EXPECT_TRUE(same_pixels(video_masks[i], png_masks[i])) << "mask of frame " << i + 3;
    foreground += count_value(png_masks[i], 255);
  }
  EXPECT_GT(foreground, 0) << "the scene's objects should show in some mask";
  EXPECT_EQ(read_file(s.root + "/video/InitialModel.png").empty(), false);
}

// The filter leaves a few pixels next to each corner unwritten; they keep
// what their buffer held, which after the exchange of the two buffers is
// the previous online frame's unfiltered label. Pixel (0, 1) is one of them.
TEST(RunGolden, UnfilteredPixelsCarryThePreviousFramesLabel) {
  ScratchDir s("exchange");
  const std::string seq = s.root + "/seq";
  const cv::Vec3b grey(128, 128, 128);
  const cv::Vec3b red(0, 0, 255);
  std::vector<cv::Mat> frames(4, solid_frame(10, 10, grey));
  frames[1] = solid_frame(10, 10, grey);
  frames[1].at<cv::Vec3b>(0, 1) = red;  // frame 2 only
  ASSERT_TRUE(write_frames(seq, 1, frames));

  // One layer: frame 1 gives the size, frames 2 to 4 are online frames.
  RunResult run = run_strellix({"-end", "4", "-n", "1", "-F", "1"}, seq, s.root);
  ASSERT_EQ(run.exit_code, 0) << run.err;

  cv::Mat frame2 = read_mask(s.root, 2);
  cv::Mat frame3 = read_mask(s.root, 3);
  cv::Mat frame4 = read_mask(s.root, 4);
  ASSERT_FALSE(frame2.empty() || frame3.empty() || frame4.empty());
  // Frame 2: the filter did not write (0, 1); its buffer still holds 0.
  EXPECT_EQ(count_value(frame2, 255), 0);
  // Frame 3: (0, 1) shows frame 2's unfiltered label, and nothing else.
  EXPECT_EQ(frame3.at<unsigned char>(0, 1), 255);
  EXPECT_EQ(count_value(frame3, 255), 1);
  // Frame 4: frame 3's unfiltered label there was background.
  EXPECT_EQ(count_value(frame4, 255), 0);
}
