// The Subtractor on its own: independent instances, exact resumption from a
// saved state, damaged state files, and inputs it refuses without a trace.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "strellix/strellix.hpp"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

// A small moving scene: a textured background, a block crossing it and a
// slow brightness drift, so that every stage has work.
std::vector<cv::Mat> scene(int count, int width = 40, int height = 30) {
  std::vector<cv::Mat> frames;
  for (int t = 0; t < count; ++t) {
    cv::Mat f = textured_frame(width, height, t);
    paint_rect(f, (t * 2) % width, height / 3, 8, 8, cv::Vec3b(20, 200, 240));
    frames.push_back(f);
  }
  return frames;
}

void expect_same_masks(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(same_pixels(a[i], b[i])) << "mask " << i;
}

// CRC-32 as the state file keeps it (the polynomial of zip and PNG).
std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int k = 0; k < 8; ++k) crc = (crc & 1u) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

strellix::Subtractor seeded(const std::vector<cv::Mat>& frames, strellix::Parameters p = {}) {
  p.median_frames = 20;
  strellix::Subtractor s(p);
  s.initialize(frames);
  return s;
}

std::string message_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Subtractor, TwoInstancesWithOtherParametersOnTwoThreadsGiveTheirOwnMasks) {
  const std::vector<cv::Mat> frames = scene(60);
  strellix::Parameters other;
  other.layers = 3;
  other.width_2d = 2;
  other.threshold = 0.002;
  strellix::Subtractor a1 = seeded(frames), b1 = seeded(frames, other);
  const std::vector<cv::Mat> alone_a = run_masks(a1, frames, 0, 60), alone_b = run_masks(b1, frames, 0, 60);

  strellix::Subtractor a2 = seeded(frames), b2 = seeded(frames, other);
  std::vector<cv::Mat> together_a, together_b;
  std::thread ta([&] { together_a = run_masks(a2, frames, 0, 60); });
  std::thread tb([&] { together_b = run_masks(b2, frames, 0, 60); });
  ta.join();
  tb.join();
  expect_same_masks(together_a, alone_a);
  expect_same_masks(together_b, alone_b);
}

// Saved in the calibration stretch and in the online stretch, loaded, and
// carried on: the masks and the rendering are those of the run that never
// stopped.
TEST(Subtractor, ResumingFromASavedStateIsExact) {
  ScratchDir dir("state");
  const std::vector<cv::Mat> frames = scene(300, 32, 24);
  strellix::Subtractor straight = seeded(frames);
  const std::vector<cv::Mat> expected = run_masks(straight, frames, 0, 300);

  for (std::size_t stop : {std::size_t{2}, std::size_t{150}}) {
    strellix::Subtractor first = seeded(frames);
    std::vector<cv::Mat> masks = run_masks(first, frames, 0, stop);
    const std::string path = dir.root + "/state" + std::to_string(stop) + ".bin";
    first.save(path);
    strellix::Subtractor resumed = strellix::Subtractor::load(path);
    EXPECT_EQ(resumed.frames_applied(), static_cast<long long>(stop));
    EXPECT_TRUE(same_pixels(resumed.background(), first.background()));
    const std::vector<cv::Mat> rest = run_masks(resumed, frames, stop, 300);
    masks.insert(masks.end(), rest.begin(), rest.end());
    expect_same_masks(masks, expected);
  }
  EXPECT_TRUE(directory_entries(dir.root).size() == 2) << "no temporary file is left beside the states";
}

TEST(Subtractor, RefusesStateFilesThatAreDamagedForeignOrNewer) {
  ScratchDir dir("damaged");
  strellix::Subtractor s = seeded(scene(20));
  const std::string good = dir.root + "/good.bin";
  s.save(good);
  const std::string bytes = read_file(good);
  auto write = [&](const std::string& name, const std::string& content) {
    std::ofstream(dir.root + "/" + name, std::ios::binary) << content;
    return dir.root + "/" + name;
  };
  std::string flipped = bytes;
  flipped[bytes.size() / 2] = static_cast<char>(flipped[bytes.size() / 2] ^ 0x10);
  std::string newer = bytes;
  newer[12] = 99;
  // A header no version writes (a negative frame count) behind a checksum
  // that matches: only the header's own checks can refuse it.
  std::string negative = bytes;
  for (int i = 64; i < 72; ++i) negative[i] = '\xff';
  const std::uint32_t crc = crc32(negative.substr(0, negative.size() - 4));
  for (int i = 0; i < 4; ++i) negative[negative.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
  const struct {
    std::string path, says;
  } cases[] = {
      {dir.root + "/missing.bin", "No such file"},
      {dir.root, "not a regular file"},
      {write("empty.bin", ""), "not a state file"},
      {write("foreign.bin", "\x89PNG\r\n\x1a\n and so on"), "not a state file"},
      {write("truncated.bin", bytes.substr(0, bytes.size() - 100)), "truncated"},
      {write("longer.bin", bytes + "x"), "announces"},
      {write("flipped.bin", flipped), "checksum"},
      {write("newer.bin", newer), "newer version"},
      {write("negative.bin", negative), "damaged header: frame 40x30, -1 frames applied"},
  };
  for (const auto& c : cases) {
    const std::string said = message_of([&] { strellix::Subtractor::load(c.path); });
    EXPECT_NE(said.find(c.says), std::string::npos) << c.path << ": " << said;
  }
}

TEST(Subtractor, RefusedInputsChangeNothing) {
  EXPECT_THROW(strellix::Subtractor(strellix::Parameters{0}), std::invalid_argument);
  for (int bad : {-1, 4}) {
    strellix::Parameters p;
    p.width_1d = bad;
    EXPECT_THROW(strellix::Subtractor{p}, std::invalid_argument);
    p = strellix::Parameters();
    p.width_2d = bad == 4 ? 5 : bad;
    EXPECT_THROW(strellix::Subtractor{p}, std::invalid_argument);
  }
  strellix::Parameters threads;
  threads.threads = -2;
  EXPECT_THROW(strellix::Subtractor{threads}, std::invalid_argument);
  strellix::Parameters no_median;
  no_median.median_frames = 0;
  EXPECT_THROW(strellix::Subtractor{no_median}, std::invalid_argument);
  // The threshold and the learning rate: finite, within the command line's
  // ranges, the ends included.
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  for (double rate : {-0.01, 1.0001, 5.0, inf, nan}) {
    strellix::Parameters p;
    p.learning_rate = rate;
    EXPECT_THROW(strellix::validate(p), std::invalid_argument) << rate;
    EXPECT_THROW(strellix::Subtractor{p}, std::invalid_argument) << rate;
  }
  for (double threshold : {-5.0, 1000.5, -inf, inf, nan}) {
    strellix::Parameters p;
    p.threshold = threshold;
    EXPECT_THROW(strellix::Subtractor{p}, std::invalid_argument) << threshold;
  }
  strellix::Parameters ends;
  ends.learning_rate = 1.0;
  ends.threshold = 1000.0;
  EXPECT_NO_THROW(strellix::validate(ends));
  ends.learning_rate = 0.0;
  ends.threshold = 0.0;
  EXPECT_NO_THROW(strellix::validate(ends));

  const std::vector<cv::Mat> frames = scene(40);
  strellix::Subtractor untouched = seeded(frames);
  const std::vector<cv::Mat> expected = run_masks(untouched, frames, 0, 40);

  strellix::Subtractor s;
  cv::Mat mask;
  EXPECT_THROW(s.apply(frames[0], mask), std::logic_error);
  EXPECT_THROW(s.background(), std::logic_error);
  EXPECT_THROW(s.initialize({}), std::invalid_argument);
  EXPECT_THROW(s.initialize({frames[0], frames[1](cv::Rect(0, 0, 20, 20))}), std::invalid_argument);
  EXPECT_FALSE(s.initialized());
  s = seeded(frames);
  // A wrong width alone and a wrong height alone as well as both.
  const cv::Mat refused[] = {cv::Mat(),
                             frames[0](cv::Rect(0, 0, 20, 20)),
                             frames[0](cv::Rect(0, 0, 39, 30)),
                             frames[0](cv::Rect(0, 0, 40, 29)),
                             cv::Mat(30, 40, CV_32FC3),
                             cv::Mat(30, 40, CV_8UC2)};
  std::vector<cv::Mat> masks;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    for (const cv::Mat& bad : refused) EXPECT_THROW(s.apply(bad, mask), std::invalid_argument);
    EXPECT_THROW(s.initialize_background(cv::Mat(3, 3, CV_64FC1)), std::invalid_argument);
    s.apply(frames[i], mask);
    masks.push_back(mask.clone());
  }
  expect_same_masks(masks, expected);
}

// The median taken one frame at a time seeds a model exactly as
// initialize() does; what it cannot take it refuses, changing nothing.
TEST(Subtractor, TemporalMedianFrameByFrameSeedsAsInitializeDoes) {
  const std::vector<cv::Mat> frames = scene(30);
  strellix::Subtractor whole = seeded(frames);
  strellix::TemporalMedian median(20, frames[0].size(), 2);
  EXPECT_THROW(median.result(), std::logic_error);
  EXPECT_THROW(median.add(frames[0](cv::Rect(0, 0, 20, 20))), std::invalid_argument);
  EXPECT_THROW(median.add(cv::Mat(30, 40, CV_32FC3)), std::invalid_argument);
  for (int k = 0; k < 20; ++k) median.add(frames[static_cast<std::size_t>(k)]);
  EXPECT_THROW(median.add(frames[20]), std::invalid_argument);
  EXPECT_EQ(median.added(), 20);
  strellix::Subtractor by_frames;
  by_frames.initialize_background(median.result());
  expect_same_masks(run_masks(by_frames, frames, 0, 30), run_masks(whole, frames, 0, 30));
  EXPECT_THROW(strellix::TemporalMedian(0, cv::Size(4, 4)), std::invalid_argument);
  EXPECT_THROW(strellix::TemporalMedian(3, cv::Size(0, 4)), std::invalid_argument);
}

// Frames prepared on another thread, one ahead of the subtractor, give the
// masks of apply(frame); an unprepared or a foreign-sized one is refused.
TEST(Subtractor, FramesPreparedAheadOnAnotherThreadGiveTheSameMasks) {
  const std::vector<cv::Mat> frames = scene(40);
  strellix::Subtractor direct = seeded(frames), ahead = seeded(frames);
  const std::vector<cv::Mat> expected = run_masks(direct, frames, 0, 40);
  strellix::PreparedFrame slots[2];
  cv::Mat mask;
  ahead.prepare(frames[0], slots[0]);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    std::thread reader([&] {
      if (i + 1 < frames.size()) ahead.prepare(frames[i + 1], slots[(i + 1) % 2]);
    });
    ahead.apply(slots[i % 2], mask);
    reader.join();
    EXPECT_TRUE(same_pixels(mask, expected[i])) << i;
  }
  strellix::PreparedFrame unprepared, small;
  EXPECT_THROW(ahead.apply(unprepared, mask), std::invalid_argument);
  EXPECT_THROW(ahead.prepare(frames[0](cv::Rect(0, 0, 20, 20)), small), std::invalid_argument);
  EXPECT_FALSE(small.ready());
}

// Grey, 16-bit and four-channel frames give the masks of the same pictures
// as 8-bit BGR: repeated grey, the high byte (whatever the low one
// holds), alpha dropped.
TEST(Subtractor, ConvertsGreyDeepAndAlphaFrames) {
  std::vector<cv::Mat> grey, grey_bgr, deep, alpha;
  for (const cv::Mat& f : scene(30)) {
    cv::Mat g, gb, d, a;
    cv::cvtColor(f, g, cv::COLOR_BGR2GRAY);
    cv::cvtColor(g, gb, cv::COLOR_GRAY2BGR);
    cv::Mat low(f.size(), CV_16UC3);
    cv::randu(low, 0, 256);
    f.convertTo(d, CV_16UC3, 256.0);
    d += low;
    cv::cvtColor(f, a, cv::COLOR_BGR2BGRA);
    grey.push_back(g);
    grey_bgr.push_back(gb);
    deep.push_back(d);
    alpha.push_back(a);
  }
  const std::vector<cv::Mat> colour = scene(30);
  strellix::Subtractor s1 = seeded(grey), s2 = seeded(grey_bgr), s3 = seeded(deep), s4 = seeded(colour),
                       s5 = seeded(alpha), s6 = seeded(colour);
  expect_same_masks(run_masks(s1, grey, 0, 30), run_masks(s2, grey_bgr, 0, 30));
  expect_same_masks(run_masks(s3, deep, 0, 30), run_masks(s4, colour, 0, 30));
  expect_same_masks(run_masks(s5, alpha, 0, 30), run_masks(s6, colour, 0, 30));
}
