// `strellix segment` on every kind of input gives the masks of the frames
// it reads: those Strellixplus writes for the same frames and parameters,
// and the same masks whether the pictures come as PNG, JPEG, a directory,
// a video file or a stream.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "strellix/strellix.hpp"
#include "support/cli_runs.h"
#include "support/frames.h"
#include "support/http_file_server.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string padded(const std::string& prefix, int k, const char* extension) {
  char name[32];
  std::snprintf(name, sizeof name, "%06d.%s", k, extension);
  return prefix + name;
}

// The scene's frames 1..count as a video; false when this machine has no
// encoder for it.
bool write_video(const std::string& path, int fourcc, const std::string& scene, int count, cv::Size size) {
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, fourcc, 25, size);
  if (!writer.isOpened()) return false;
  for (int k = 1; k <= count; ++k) writer.write(cv::imread(scene + std::to_string(k) + ".png"));
  return true;
}

// The masks a Subtractor gives for the frames the video library decodes
// from `path`, with a median of `median_frames`, compared with the run's.
void expect_masks_of_decoded_frames(const std::string& path, const std::string& out, int median_frames) {
  cv::VideoCapture capture(path, cv::CAP_FFMPEG);
  std::vector<cv::Mat> frames;
  for (cv::Mat f; capture.read(f);) frames.push_back(f.clone());
  ASSERT_FALSE(frames.empty());
  strellix::Parameters p;
  p.median_frames = median_frames;
  strellix::Subtractor s(p);
  s.initialize(frames);
  cv::Mat mask;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    s.apply(frames[k], mask);
    ASSERT_TRUE(same_pixels(mask, read_numbered_mask(out, "mask", static_cast<long long>(k) + 1)))
        << path << " frame " << k + 1;
  }
  EXPECT_TRUE(read_numbered_mask(out, "mask", static_cast<long long>(frames.size()) + 1).empty());
}

}  // namespace

TEST(SegmentInputs, PatternGivesTheMasksOfStrellixplus) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-pattern");
  const RunResult cli = run_cli({"segment",
                                 scene + "%d.png",
                                 "-o",
                                 s.path("cli"),
                                 "--start",
                                 "3",
                                 "--end",
                                 "38",
                                 "--median-frames",
                                 "10",
                                 "--layers",
                                 "3",
                                 "--width-1d",
                                 "0",
                                 "--width-2d",
                                 "2",
                                 "--threshold",
                                 "0.01",
                                 "--learning-rate",
                                 "0.1"});
  ASSERT_EQ(cli.exit_code, 0) << cli.err;
  // The seed is in OUTDIR, and nothing is written beside the input.
  EXPECT_FALSE(cv::imread(s.path("cli/background.png")).empty());
  EXPECT_FALSE(file_exists(fs::path(scene).parent_path().string() + "/InitialModel.png"));
  fs::create_directory(s.path("reference"));
  const RunResult reference = run_strellix({"-ini", "3", "-end", "38", "-F", "10", "-n", "3", "-w1d", "0",
                                            "-w2d", "2", "-e", "0.01", "-lr", "0.1"},
                                           scene, s.path("reference"));
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  EXPECT_EQ(differing_masks(s.path("cli"), "mask", s.path("reference"), "bin", 3, 38), 0);
  EXPECT_TRUE(read_numbered_mask(s.path("cli"), "mask", 2).empty());
  EXPECT_TRUE(read_numbered_mask(s.path("cli"), "mask", 39).empty());
}

TEST(SegmentInputs, JpegPatternAndDirectoryGiveTheMasksOfTheSamePicturesAsPng) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-jpeg");
  fs::create_directories(s.path("jpeg"));
  fs::create_directories(s.path("png"));
  for (int k = 1; k <= 40; ++k) {
    ASSERT_TRUE(
        cv::imwrite(padded(s.path("jpeg/in"), k, "jpg"), cv::imread(scene + std::to_string(k) + ".png")));
    // The pictures the JPEG files hold, stored losslessly.
    ASSERT_TRUE(cv::imwrite(s.path("png/in" + std::to_string(k) + ".png"),
                            cv::imread(padded(s.path("jpeg/in"), k, "jpg"))));
  }
  const std::vector<std::string> common = {"--median-frames", "15", "-q"};
  auto run = [&](const std::string& input, const std::string& out) {
    std::vector<std::string> args = {"segment", input, "-o", s.path(out)};
    args.insert(args.end(), common.begin(), common.end());
    const RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 0) << input << ": " << r.err;
    EXPECT_EQ(r.out + r.err, "") << "--quiet";
  };
  run(s.path("png/in%d.png"), "from-png");
  run(s.path("jpeg/in%06d.jpg"), "from-jpeg");
  run(s.path("jpeg"), "from-directory");
  EXPECT_EQ(differing_masks(s.path("from-jpeg"), "mask", s.path("from-png"), "mask", 1, 40), 0);
  EXPECT_EQ(differing_masks(s.path("from-directory"), "mask", s.path("from-png"), "mask", 1, 40), 0);
}

TEST(SegmentInputs, VideosGiveTheMasksOfTheirOwnDecodedFrames) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-video");
  const struct {
    const char* name;
    int fourcc;
  } videos[] = {{"clip.mp4", cv::VideoWriter::fourcc('m', 'p', '4', 'v')},
                {"clip.mkv", cv::VideoWriter::fourcc('F', 'F', 'V', '1')}};
  for (const auto& v : videos) {
    SCOPED_TRACE(v.name);
    if (!write_video(s.path(v.name), v.fourcc, scene, 40, cv::Size(48, 32))) GTEST_SKIP() << "no encoder";
    const std::string out = s.path(std::string("out-") + v.name);
    const RunResult r = run_cli({"segment", s.path(v.name), "-o", out, "--median-frames", "12",
                                 "--mask-video", "masks.mkv", "--overlay", "overlay.mp4"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    expect_masks_of_decoded_frames(s.path(v.name), out, 12);
    // The lossless mask video holds the same masks.
    cv::VideoCapture masks(out + "/masks.mkv", cv::CAP_FFMPEG);
    cv::Mat frame, grey;
    for (int k = 1; k <= 40; ++k) {
      ASSERT_TRUE(masks.read(frame)) << k;
      cv::extractChannel(frame, grey, 0);
      ASSERT_TRUE(same_pixels(grey, read_numbered_mask(out, "mask", k))) << "mask video frame " << k;
    }
    EXPECT_EQ(cv::VideoCapture(out + "/overlay.mp4", cv::CAP_FFMPEG).get(cv::CAP_PROP_FRAME_COUNT), 40);
  }
}

// --start s on a video starts at its s-th frame and takes the median from
// there, as Strellixplus's -skip s does.
TEST(SegmentInputs, StartAndEndOnAVideoMatchStrellixplusSkip) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-skip");
  if (!write_video(s.path("clip.avi"), cv::VideoWriter::fourcc('F', 'F', 'V', '1'), scene, 40,
                   cv::Size(48, 32)))
    GTEST_SKIP() << "no lossless encoder";
  const RunResult cli = run_cli({"segment", s.path("clip.avi"), "-o", s.path("cli"), "--start", "4", "--end",
                                 "33", "--median-frames", "9"});
  ASSERT_EQ(cli.exit_code, 0) << cli.err;
  const RunResult reference =
      run_strellix({"-f", "-skip", "4", "-ini", "4", "-end", "33", "-F", "9"}, s.path("clip"), s.root);
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  EXPECT_EQ(differing_masks(s.path("cli"), "mask", s.root, "bin", 4, 33), 0);
  EXPECT_TRUE(read_numbered_mask(s.path("cli"), "mask", 34).empty());
}

TEST(SegmentInputs, HttpStreamGivesTheMasksOfTheFile) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-http");
  if (!write_video(s.path("clip.mp4"), cv::VideoWriter::fourcc('m', 'p', '4', 'v'), scene, 40,
                   cv::Size(48, 32)))
    GTEST_SKIP() << "no encoder";
  const RunResult file =
      run_cli({"segment", s.path("clip.mp4"), "-o", s.path("file"), "--median-frames", "12"});
  ASSERT_EQ(file.exit_code, 0) << file.err;
  HttpFileServer server(s.path("clip.mp4"));
  ASSERT_NE(server.port(), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/clip.mp4";
  const RunResult stream = run_cli({"segment", url, "-o", s.path("stream"), "--median-frames", "12"});
  ASSERT_EQ(stream.exit_code, 0) << stream.err;
  EXPECT_EQ(differing_masks(s.path("stream"), "mask", s.path("file"), "mask", 1, 40), 0);
  EXPECT_TRUE(read_numbered_mask(s.path("stream"), "mask", 41).empty());
}
