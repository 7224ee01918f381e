#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <opencv2/core.hpp>

#include "colour/cached_model_space.h"
#include "colour/model_space.h"
#include "core/settings.h"
#include "core/worker_pool.h"
#include "support/owned_planes.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

// All 2^24 colours, a sixteenth at a time: a 1024x1024 image holds every
// green and blue for 16 reds. Each colour goes through the cached conversion twice:
// the first pass fills the cache, the second reads it. The cache holds only
// half of all colours, so the colours past its budget check the uncached
// conversion as well.
TEST(CachedFrameToModel, EveryColourGivesThePlainFloats) {
  const int side = 1024;
  const std::size_t count = static_cast<std::size_t>(side) * side;
  TestSettings settings(count);
  for (int pass = 0; pass < 2; ++pass) {
    for (int red_group = 0; red_group < 16; ++red_group) {
      cv::Mat image(side, side, CV_8UC3);
      for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
          const int i = r * side + c;
          // Red from the group; green and blue from the rest.
          cv::Vec3b& px = image.at<cv::Vec3b>(r, c);
          px[2] = static_cast<unsigned char>(red_group * 16 + (i >> 16));
          px[1] = static_cast<unsigned char>(i >> 8);
          px[0] = static_cast<unsigned char>(i);
        }
      }
      OwnedModel plain(1, count, -1.0f), fast(1, count, -1.0f);
      frame_to_model(settings.s, image, static_cast<int>(count), plain.layer(0));
      frame_to_model_cached(settings.s, image, fast.layer(0));
      ASSERT_TRUE(same_bits(plain.data, fast.data)) << "pass " << pass << ", reds from " << red_group * 16;
    }
  }
}

// Pixels outside the search area keep their old values; images of another
// type, and empty ones, change nothing; a region of a larger image (rows
// not contiguous) is read row by row; any thread count, and the caller's
// thread alone, give the same.
TEST(CachedFrameToModel, MaskTypeRegionsAndThreads) {
  const int W = 37, H = 23;
  const std::size_t count = static_cast<std::size_t>(W) * H;
  TestSettings settings(count);
  for (std::size_t i = 0; i < count; i += 3) settings.mask(i) = 0;
  cv::Mat big(H + 5, W + 7, CV_8UC3);
  cv::randu(big, cv::Scalar::all(0), cv::Scalar::all(256));
  const cv::Mat image = big(cv::Rect(3, 2, W, H));
  ASSERT_FALSE(image.isContinuous());
  WorkerPool two(2), three(3);
  WorkerPool* const pools[] = {nullptr, &two, &three};
  for (WorkerPool* pool : pools) {
    settings.s.run.workers = pool;
    const int threads = pool != nullptr ? pool->threads() : 1;
    OwnedModel plain(1, count, 7.0f), fast(1, count, 7.0f);
    frame_to_model(settings.s, image, 0, plain.layer(0));
    frame_to_model_cached(settings.s, image, fast.layer(0));
    EXPECT_TRUE(same_bits(plain.data, fast.data)) << threads << " threads";
    EXPECT_EQ(fast.at(0, 2, 0), 7.0f);

    OwnedModel untouched(1, count, 7.0f);
    frame_to_model_cached(settings.s, cv::Mat(H, W, CV_8UC1, cv::Scalar(9)), untouched.layer(0));
    frame_to_model_cached(settings.s, cv::Mat(), untouched.layer(0));
    EXPECT_TRUE(same_bits(untouched.data, OwnedModel(1, count, 7.0f).data));
  }
  OwnedModel plain(1, count, 7.0f), on_caller(1, count, 7.0f);
  frame_to_model(settings.s, image, 0, plain.layer(0));
  frame_to_model_cached_on_caller(settings.s, image, on_caller.layer(0));
  EXPECT_TRUE(same_bits(plain.data, on_caller.data)) << "on the calling thread";
}

}  // namespace
