// `strellix segment` on every kind of input gives the masks of the frames
// it reads: those Strellixplus writes for the same frames and parameters,
// and the same masks whether the pictures come as PNG, JPEG, a directory,
// a video file or a stream.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

// The 40 frames of 48x32 of the sample scene as a video; false when this
// machine has no encoder for it.
bool write_sample_clip(const std::string& path, int fourcc) {
  return write_video(path, fourcc, sample_scene(40, 48, 32), 40, cv::Size(48, 32));
}

// The masks a Subtractor gives for the frames the video library decodes
// from `path`, with a median of `median_frames` (and the parameters `p`
// otherwise), compared with the run's.
void expect_masks_of_decoded_frames(const std::string& path, const std::string& out, int median_frames,
                                    strellix::Parameters p = {}) {
  cv::VideoCapture capture(path, cv::CAP_FFMPEG);
  std::vector<cv::Mat> frames;
  for (cv::Mat f; capture.read(f);) frames.push_back(f.clone());
  ASSERT_FALSE(frames.empty());
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
    // The overlay is H.264 where the video library has its encoder, MPEG-4
    // part 2 otherwise, and run.json says which.
    const bool h264 = cv::VideoWriter(s.path("h264.mp4"), cv::CAP_FFMPEG,
                                      cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 25, cv::Size(48, 32))
                          .isOpened();
    const int fourcc =
        static_cast<int>(cv::VideoCapture(out + "/overlay.mp4", cv::CAP_FFMPEG).get(cv::CAP_PROP_FOURCC));
    EXPECT_EQ(fourcc, h264 ? cv::VideoWriter::fourcc('a', 'v', 'c', '1')
                           : cv::VideoWriter::fourcc('m', 'p', '4', 'v'));
    const std::string record = read_file(out + "/run.json");
    EXPECT_NE(record.find(std::string("\"overlay_codec\": \"") + (h264 ? "h264" : "mpeg4") + "\""),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\"mask_video_codec\": \"ffv1\""), std::string::npos) << record;
  }
}

// --numerics fast reaches the library, frames prepared ahead and all, and
// run.json says so.
TEST(SegmentInputs, FastNumericsGiveTheMasksOfTheLibrarysFastMode) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-fast");
  if (!write_video(s.path("clip.mkv"), cv::VideoWriter::fourcc('F', 'F', 'V', '1'), scene, 40,
                   cv::Size(48, 32)))
    GTEST_SKIP() << "no lossless encoder";
  const RunResult r = run_cli(
      {"segment", s.path("clip.mkv"), "-o", s.path("out"), "--median-frames", "12", "--numerics", "fast"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  strellix::Parameters fast;
  fast.numerics = strellix::Numerics::fast;
  expect_masks_of_decoded_frames(s.path("clip.mkv"), s.path("out"), 12, fast);
  const std::string record = read_file(s.path("out/run.json"));
  EXPECT_NE(record.find("\"numerics\": \"fast\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"fast-"), std::string::npos) << record;
}

// --start s on a video starts at its s-th frame and takes the median from
// there, as Strellixplus's -skip s does.
TEST(SegmentInputs, StartAndEndOnAVideoMatchStrellixplusSkip) {
  ScratchDir s("cli-skip");
  if (!write_sample_clip(s.path("clip.avi"), cv::VideoWriter::fourcc('F', 'F', 'V', '1')))
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
  ScratchDir s("cli-http");
  if (!write_sample_clip(s.path("clip.mp4"), cv::VideoWriter::fourcc('m', 'p', '4', 'v')))
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

// A video that ends before the frame count its container declares is
// incomplete, not complete: its own status, exit code and summary; what it
// gave is segmented.
TEST(SegmentInputs, VideoEndingBeforeItsDeclaredCountIsIncomplete) {
  ScratchDir s("cli-cut-video");
  if (!write_sample_clip(s.path("clip.mkv"), cv::VideoWriter::fourcc('F', 'F', 'V', '1')))
    GTEST_SKIP() << "no lossless encoder";
  const std::string bytes = read_file(s.path("clip.mkv"));
  std::ofstream(s.path("cut.mkv"), std::ios::binary) << bytes.substr(0, bytes.size() * 55 / 100);
  const RunResult r = run_cli({"segment", s.path("cut.mkv"), "-o", s.path("out"), "--median-frames", "5"});
  EXPECT_EQ(r.exit_code, 7) << r.err;
  EXPECT_NE(r.err.find("cut.mkv ended after frame "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("but its container declares 40 frames"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(" of 40 frames (1-"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("incomplete"), std::string::npos) << r.out;
  const std::string record = read_file(s.path("out/run.json"));
  EXPECT_NE(record.find("\"status\": \"incomplete\""), std::string::npos) << record;
  EXPECT_EQ(json_value(record, "exit_code"), 7);
  EXPECT_EQ(json_value(record, "expected"), 40);
  const double done = json_value(record, "done");
  EXPECT_GT(done, 5);
  EXPECT_LT(done, 40);
  EXPECT_FALSE(read_numbered_mask(s.path("out"), "mask", static_cast<long long>(done)).empty());
}

// A stream that cannot be opened says why (an HTTP status, a refused
// connection, an mp4 that cannot be streamed); one that stops or goes
// quiet part way is incomplete, after the time-out for a quiet one.
TEST(SegmentInputs, StreamsThatFailSayWhy) {
  ScratchDir s("cli-bad-streams");
  if (!write_sample_clip(s.path("clip.mkv"), cv::VideoWriter::fourcc('F', 'F', 'V', '1')))
    GTEST_SKIP() << "no encoder";
  // An mp4 (index at the end, as the video library writes it) too large
  // for the reader to keep whole while it looks for the index.
  {
    cv::VideoWriter writer(s.path("clip.mp4"), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', '4', 'v'),
                           25, cv::Size(160, 120));
    cv::Mat noise(120, 160, CV_8UC3);
    for (int k = 0; k < 40; ++k) {
      cv::randu(noise, 0, 256);
      writer.write(noise);
    }
  }
  const std::size_t half = read_file(s.path("clip.mkv")).size() / 2;
  int run = 0;
  auto segment = [&](const std::string& url) {
    return run_cli({"segment", url, "-o", s.path("out" + std::to_string(++run)), "--median-frames", "5",
                    "--stream-timeout", "2"});
  };
  HttpBehaviour missing, plain, cut, quiet, silent;
  missing.status = 404;
  plain.ranges = false;
  cut.ranges = quiet.ranges = false;
  cut.cut_at = quiet.cut_at = half;
  quiet.hang = silent.hang = true;
  silent.cut_at = 0;
  const struct {
    std::string file;
    HttpBehaviour behaviour;
    int code;
    std::string says;
  } cases[] = {
      {"clip.mp4", missing, 1, "the server answered HTTP 404 Not Found"},
      {"clip.mp4", plain, 1,
       "probably not streamable (and the server does not serve byte ranges); move the index "
       "to the front: ffmpeg -i IN.mp4 -c copy -movflags +faststart OUT.mp4"},
      {"clip.mp4", silent, 1, "no answer within 2 s (time-out; see --stream-timeout)"},
      {"clip.mkv", cut, 7, "but its container declares 40 frames: the stream was cut off"},
      {"clip.mkv", quiet, 7, "sent no frame for 2 s after frame "},
  };
  for (const auto& c : cases) {
    HttpFileServer server(s.path(c.file), c.behaviour);
    ASSERT_NE(server.port(), 0);
    const RunResult r = segment(server.url(c.file));
    EXPECT_EQ(r.exit_code, c.code) << c.says << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  const RunResult refused = segment("http://127.0.0.1:" + std::to_string(closed_port()) + "/clip.mp4");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("the connection to 127.0.0.1:"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("was refused"), std::string::npos) << refused.err;
}
