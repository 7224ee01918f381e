#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <opencv2/core.hpp>

#include "colour/fast_model_space.h"
#include "colour/model_space.h"
#include "model/settings.h"
#include "model/worker_pool.h"

using namespace strellix;

namespace {

struct Planes {
  std::vector<float> data;
  float* rows[3];
  explicit Planes(std::size_t count, float fill) : data(3 * count, fill) {
    for (int k = 0; k < 3; ++k) rows[k] = data.data() + k * count;
  }
};

struct MaskScope {
  unsigned char* saved = search_mask;
  std::vector<unsigned char> mask;
  explicit MaskScope(std::size_t count) : mask(count, 255) { search_mask = mask.data(); }
  ~MaskScope() { search_mask = saved; }
};

bool same_bits(const Planes& a, const Planes& b) {
  return a.data.size() == b.data.size() &&
         std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(float)) == 0;
}

// All 2^24 colours, a sixteenth at a time: a 1024x1024 image holds every
// green and blue for 16 reds. Each colour goes through the fast path twice:
// the first pass fills the cache, the second reads it. The cache holds only
// half of all colours, so the colours past its budget check the uncached
// conversion as well.
TEST(FastFrameToModel, EveryColourGivesThePlainFloats) {
  const int side = 1024;
  const std::size_t count = static_cast<std::size_t>(side) * side;
  MaskScope mask(count);
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
      Planes plain(count, -1.0f), fast(count, -1.0f);
      frame_to_model(image, static_cast<int>(count), plain.rows);
      frame_to_model_fast(image, static_cast<int>(count), fast.rows);
      ASSERT_TRUE(same_bits(plain, fast)) << "pass " << pass << ", reds from " << red_group * 16;
    }
  }
}

// Pixels outside the search area keep their old values; images of another
// type, and empty ones, change nothing; a region of a larger image (rows
// not contiguous) is read row by row; any thread count gives the same.
TEST(FastFrameToModel, MaskTypeRegionsAndThreads) {
  const int W = 37, H = 23;
  const std::size_t count = static_cast<std::size_t>(W) * H;
  MaskScope mask(count);
  for (std::size_t i = 0; i < count; i += 3) mask.mask[i] = 0;
  cv::Mat big(H + 5, W + 7, CV_8UC3);
  cv::randu(big, cv::Scalar::all(0), cv::Scalar::all(256));
  const cv::Mat image = big(cv::Rect(3, 2, W, H));
  ASSERT_FALSE(image.isContinuous());
  const int saved_threads = worker_threads();
  for (int threads : {1, 2, 3}) {
    set_worker_threads(threads);
    Planes plain(count, 7.0f), fast(count, 7.0f);
    frame_to_model(image, 0, plain.rows);
    frame_to_model_fast(image, 0, fast.rows);
    EXPECT_TRUE(same_bits(plain, fast)) << threads << " threads";
    EXPECT_EQ(fast.rows[2][0], 7.0f);

    Planes untouched(count, 7.0f);
    frame_to_model_fast(cv::Mat(H, W, CV_8UC1, cv::Scalar(9)), 0, untouched.rows);
    frame_to_model_fast(cv::Mat(), 0, untouched.rows);
    EXPECT_TRUE(same_bits(untouched, Planes(count, 7.0f)));
  }
  set_worker_threads(saved_threads);
}

}  // namespace
