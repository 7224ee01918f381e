// The loop's helper threads on their own: the frame read ahead, the
// captured standard error of a read, and the mask writer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "colour/model_space.h"
#include "driver/frame_prefetch.h"
#include "driver/output_writer.h"
#include "engine/engine.h"
#include "engine/pass_table.h"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

// Standard error sent to a file for the lifetime of the object.
struct StandardErrorToFile {
  std::string path;
  int saved = -1;
  explicit StandardErrorToFile(const std::string& file) : path(file) {
    std::fflush(stderr);
    saved = dup(2);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
  }
  std::string restore() {
    std::fflush(stderr);
    if (saved >= 0) {
      dup2(saved, 2);
      close(saved);
    }
    saved = -1;
    return read_file(path);
  }
  ~StandardErrorToFile() { restore(); }
};

TEST(PipelineCapture, TakesWhatTheReadWritesAndPutsStandardErrorBack) {
  ScratchDir dir("pipeline-threads");
  const int capture = open_capture_file();
  ASSERT_GE(capture, 0);
  StandardErrorToFile outside(dir.path("stderr.txt"));
  const std::string first = with_captured_standard_error(capture, [] {
    std::fprintf(stderr, "one %d\n", 1);
    if (write(2, "two\n", 4) != 4) ADD_FAILURE();
  });
  // A second capture starts empty, and nothing is lost after it.
  const std::string second = with_captured_standard_error(capture, [] { std::fputs("three\n", stderr); });
  std::fputs("after\n", stderr);
  // Without a capture file the text goes straight out.
  EXPECT_EQ(with_captured_standard_error(-1, [] { std::fputs("direct\n", stderr); }), "");
  EXPECT_EQ(outside.restore(), "after\ndirect\n");
  EXPECT_EQ(first, "one 1\ntwo\n");
  EXPECT_EQ(second, "three\n");
  close(capture);
}

struct PrefetchScene {
  ScratchDir dir{"pipeline-threads"};
  std::string prefix = dir.path("f");
  RunState run;
  FramePrefetch prefetch;
  PrefetchScene() {
    for (int k = 1; k <= 4; ++k) write_frame(prefix, k, solid_frame(8, 6, cv::Vec3b(10 * k, 20, 30)));
    run.names.prefix = prefix;
    run.W = 8;
    run.H = 6;
    start_frame_prefetch(prefetch, run);
  }
  ~PrefetchScene() { stop_frame_prefetch(prefetch); }
};

TEST(PipelinePrefetch, GivesTheFrameAskedForWhateverWasReadAhead) {
  PrefetchScene s;
  request_frame(s.prefetch, 2);
  LoadedFrame two = take_frame(s.prefetch, 2);
  ASSERT_EQ(two.status, GRAB_OK);
  EXPECT_EQ(two.image.at<cv::Vec3b>(0, 0)[0], 20);
  // Frame 4 read ahead, frame 3 wanted after all: frame 3 comes back.
  request_frame(s.prefetch, 4);
  LoadedFrame three = take_frame(s.prefetch, 3);
  ASSERT_EQ(three.status, GRAB_OK);
  EXPECT_EQ(three.image.at<cv::Vec3b>(0, 0)[0], 30);
  // Nothing asked for: read on the spot.
  EXPECT_EQ(take_frame(s.prefetch, 1).image.at<cv::Vec3b>(0, 0)[0], 10);
  EXPECT_TRUE(three.complaint.empty());
}

TEST(PipelinePrefetch, ReadsSeveralFramesAheadAndDropsThoseSkipped) {
  PrefetchScene s;
  for (long long k : {1, 2, 3, 2}) request_frame(s.prefetch, k);  // asking twice changes nothing
  EXPECT_EQ(take_frame(s.prefetch, 1).image.at<cv::Vec3b>(0, 0)[0], 10);
  // Frame 2 is passed over: frame 3 comes back, and 2 is gone with it.
  EXPECT_EQ(take_frame(s.prefetch, 3).image.at<cv::Vec3b>(0, 0)[0], 30);
  request_frame(s.prefetch, 4);
  EXPECT_EQ(take_frame(s.prefetch, 2).image.at<cv::Vec3b>(0, 0)[0], 20);  // read again
  EXPECT_EQ(take_frame(s.prefetch, 4).image.at<cv::Vec3b>(0, 0)[0], 40);
}

// A file missing when it was read ahead is looked for again when taken.
TEST(PipelinePrefetch, AFileWrittenAfterTheReadAheadIsFound) {
  PrefetchScene s;
  request_frame(s.prefetch, 5);
  request_frame(s.prefetch, 6);
  EXPECT_EQ(take_frame(s.prefetch, 5).status, GRAB_MISSING);
  write_frame(s.prefix, 6, solid_frame(8, 6, cv::Vec3b(60, 20, 30)));
  LoadedFrame six = take_frame(s.prefetch, 6);
  ASSERT_EQ(six.status, GRAB_OK);
  EXPECT_EQ(six.image.at<cv::Vec3b>(0, 0)[0], 60);
}

// Frames converted on the reading thread hold the floats of the plain
// conversion with the engine's settings, in reused buffers too.
TEST(PipelinePrefetch, ConvertsAsTheLoopWould) {
  ScratchDir dir("pipeline-threads");
  const std::string prefix = dir.path("f");
  const int W = 7, H = 5;
  const std::size_t N = static_cast<std::size_t>(W) * H;
  std::vector<cv::Mat> frames;
  for (int k = 1; k <= 3; ++k) {
    cv::Mat frame(H, W, CV_8UC3);
    for (int i = 0; i < static_cast<int>(N); ++i)
      frame.at<cv::Vec3b>(i / W, i % W) = cv::Vec3b(37 * i + k, 91 * k + i, 255 - 13 * i);
    frames.push_back(frame);
    write_frame(prefix, k, frame);
  }
  RunState run;
  run.names.prefix = prefix;
  run.W = W;
  run.H = H;
  run.engine = std::make_unique<Engine>(Parameters(), pass_set_named("auto"));
  run.engine->initialize_background(frames[0]);
  FramePrefetch prefetch;
  start_frame_prefetch(prefetch, run, true);
  for (int k = 1; k <= 3; ++k) {
    request_frame(prefetch, k);
    LoadedFrame got = take_frame(prefetch, k);
    std::vector<float> expected(3 * N, 0.0f);
    float* planes[3] = {expected.data(), expected.data() + N, expected.data() + 2 * N};
    frame_to_model(run.engine->settings(), frames[k - 1], static_cast<int>(N), planes);
    ASSERT_FALSE(got.model.empty());
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(std::memcmp(got.model.plane[c], planes[c], N * sizeof(float)), 0) << k << " plane " << c;
    give_back(prefetch, std::move(got.model));
  }
  stop_frame_prefetch(prefetch);
}

TEST(PipelinePrefetch, MissingAndUnusableFramesKeepTheirMessageForTheLoop) {
  PrefetchScene s;
  LoadedFrame missing = take_frame(s.prefetch, 9);
  EXPECT_EQ(missing.status, GRAB_MISSING);
  EXPECT_TRUE(missing.image.empty());
  EXPECT_EQ(missing.complaint, "");

  // A damaged file: the program's own message only, the decoder's muted.
  std::FILE* f = std::fopen((s.prefix + "2.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("\x89PNG\r\n\x1a\n damaged", f);
  std::fclose(f);
  StandardErrorToFile outside(s.dir.path("stderr.txt"));
  LoadedFrame damaged = take_frame(s.prefetch, 2);
  EXPECT_EQ(damaged.status, GRAB_UNUSABLE);
  const std::string own = "Strellixplus: cannot decode image file " + s.prefix + "2.png";
  EXPECT_EQ(damaged.complaint.compare(0, own.size(), own), 0) << damaged.complaint;
  EXPECT_EQ(damaged.complaint.find('\n'), damaged.complaint.size() - 1) << damaged.complaint;

  write_frame(s.prefix, 3, solid_frame(5, 6, cv::Vec3b(1, 2, 3)));
  LoadedFrame narrow = take_frame(s.prefetch, 3);
  EXPECT_EQ(narrow.status, GRAB_UNUSABLE);
  EXPECT_NE(narrow.complaint.find(s.prefix + "3.png"), std::string::npos);
  EXPECT_EQ(outside.restore(), "");
}

TEST(PipelineWriter, WritesEveryImageAndNamesFailuresInQueueOrder) {
  ScratchDir dir("pipeline-threads");
  mkdir(dir.path("blocked1.png").c_str(), 0755);
  mkdir(dir.path("blocked2.png").c_str(), 0755);
  StandardErrorToFile outside(dir.path("stderr.txt"));
  OutputWriter writer;
  start_output_writer(writer);
  for (int k = 0; k < 6; ++k) {
    const std::string name = k == 2 ? "blocked1.png" : k == 4 ? "blocked2.png" : std::to_string(k) + ".png";
    queue_image(writer, dir.path(name), cv::Mat(4, 5, CV_8UC1, cv::Scalar(40 * k)));
  }
  wait_until_written(writer);
  for (int k : {0, 1, 3, 5}) {
    cv::Mat back = cv::imread(dir.path(std::to_string(k) + ".png"), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(back.empty()) << k;
    EXPECT_EQ(back.at<unsigned char>(3, 4), 40 * k);
  }
  EXPECT_TRUE(stop_output_writer(writer));
  EXPECT_TRUE(stop_output_writer(writer));  // stopping twice is harmless
  EXPECT_EQ(outside.restore(),
            unwritten_note(dir.path("blocked1.png")) + unwritten_note(dir.path("blocked2.png")));
}

TEST(PipelineWriter, StoppingWritesWhatIsStillQueued) {
  ScratchDir dir("pipeline-threads");
  OutputWriter writer;
  start_output_writer(writer);
  for (int k = 0; k < 5; ++k)
    queue_image(writer, dir.path(std::to_string(k) + ".png"), cv::Mat(64, 64, CV_8UC1, cv::Scalar(k)));
  EXPECT_FALSE(stop_output_writer(writer));
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(file_exists(dir.path(std::to_string(k) + ".png"))) << k;
}

}  // namespace
