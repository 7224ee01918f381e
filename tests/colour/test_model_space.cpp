#include "colour/model_space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "colour/colour_convert.h"
#include "core/settings.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();

// Owns three planes of one element type and hands them out as a PlaneSet.
template <class T>
struct Planes {
  std::vector<T> p0, p1, p2;
  T* ptrs[3];
  explicit Planes(std::size_t n, T fill = T()) : p0(n, fill), p1(n, fill), p2(n, fill) {
    ptrs[0] = p0.data();
    ptrs[1] = p1.data();
    ptrs[2] = p2.data();
  }
  Planes(const Planes&) = delete;  // ptrs would point into the original
  Planes& operator=(const Planes&) = delete;
  PlaneSet<T> set() { return ptrs; }
  void put(std::size_t i, T a, T b, T c) {
    p0[i] = a;
    p1[i] = b;
    p2[i] = c;
  }
};

cv::Mat one_pixel(unsigned char blue, unsigned char green, unsigned char red) {
  return cv::Mat(1, 1, CV_8UC3, cv::Scalar(blue, green, red));
}

TEST(ColourSpace, FrameToModelPureColours) {
  TestSettings area(1);
  Planes<float> planes(1);
  struct Case {
    unsigned char b, g, r;
    float x, y, z;
  } cases[] = {
      {0, 0, 255, 1, 0, 1},
      {0, 255, 0, -0.5f, 0.8660254f, 1},
      {255, 0, 0, -0.5f, -0.8660254f, 1},
      {128, 128, 128, 0, 0, 0.5019608f},
      {0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    frame_to_model(area.s, one_pixel(c.b, c.g, c.r), 1, planes.set());
    SCOPED_TRACE(testing::Message() << "bgr " << int(c.b) << " " << int(c.g) << " " << int(c.r));
    EXPECT_NEAR(planes.p0[0], c.x, 1e-6);
    EXPECT_NEAR(planes.p1[0], c.y, 1e-6);
    EXPECT_NEAR(planes.p2[0], c.z, 1e-7);
  }
  // Red lies exactly on the x axis.
  frame_to_model(area.s, one_pixel(0, 0, 255), 1, planes.set());
  EXPECT_EQ(planes.p0[0], 1.0f);
  EXPECT_EQ(planes.p1[0], 0.0f);
}

TEST(ColourSpace, FrameToModelHonoursRowStrideAndOrder) {
  // A view into a wider image: rows are further apart than 3·width bytes,
  // and the bytes beyond the view must never be read.
  cv::Mat wide(3, 7, CV_8UC3, cv::Scalar(255, 255, 255));
  cv::Mat frame = wide(cv::Rect(1, 0, 4, 3));
  ASSERT_GT(frame.step, static_cast<std::size_t>(frame.cols * 3));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) frame.at<cv::Vec3b>(r, c) = cv::Vec3b(0, 0, 20 * (r * 4 + c));
  TestSettings area(12);
  Planes<float> planes(12);
  frame_to_model(area.s, frame, 12, planes.set());
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    float v = static_cast<float>(20 * i * static_cast<double>(INV_255));
    EXPECT_EQ(planes.p2[i], v);  // red only: z = V = red/255
    EXPECT_EQ(planes.p0[i], v);  // hue 0: x = S·V = V
    EXPECT_EQ(planes.p1[i], 0.0f);
  }
}

TEST(ColourSpace, FrameToModelSkipsMaskedPixelsAndRefusesOtherTypes) {
  TestSettings area(4);
  area.mask(2) = 0;
  Planes<float> planes(4, 7.0f);
  cv::Mat frame(2, 2, CV_8UC3, cv::Scalar(0, 255, 0));
  frame_to_model(area.s, frame, 4, planes.set());
  EXPECT_EQ(planes.p0[2], 7.0f);
  EXPECT_EQ(planes.p1[2], 7.0f);
  EXPECT_EQ(planes.p2[2], 7.0f);
  EXPECT_EQ(planes.p2[3], 1.0f);

  Planes<float> untouched(4, 7.0f);
  frame_to_model(area.s, cv::Mat(2, 2, CV_8UC1, cv::Scalar(9)), 4, untouched.set());
  frame_to_model(area.s, cv::Mat(), 4, untouched.set());
  EXPECT_EQ(untouched.p2[0], 7.0f);
}

TEST(PixelDistance, ConeCoordinatesArePlainSquaredDistance) {
  EXPECT_EQ(pixel_distance(3, 1, 0, 1, -1, 0, 1), 4.0);
  EXPECT_EQ(pixel_distance(3, 0.5f, 0.25f, 0.75f, 0.5f, 0.25f, 0.75f), 0.0);
  EXPECT_EQ(pixel_distance(1, 0, 0, 0, 1, 1, 1), 3.0);
  // Not rounded to float: 0.1f² kept in double.
  double d = static_cast<double>(0.1f) * 0.1f;
  EXPECT_EQ(pixel_distance(3, 0, 0, 0, 0.1f, 0, 0), d);
  EXPECT_NE(d, static_cast<double>(static_cast<float>(d)));
  EXPECT_TRUE(std::isnan(pixel_distance(3, NaN, 0, 0, 0, 0, 0)));
}

TEST(PixelDistance, HueSaturationValueMeasuresInTheCone) {
  EXPECT_NEAR(pixel_distance(2, 0, 1, 1, 180, 1, 1), 4.0, 1e-12);
  EXPECT_EQ(pixel_distance(2, 0, 1, 0.5f, 0, 1, 1), 0.5);
  EXPECT_EQ(pixel_distance(2, 17, 0, 0.6f, 300, 0, 0.6f), 0.0);
  EXPECT_NEAR(pixel_distance(2, 90, 1, 1, 270, 1, 1), 4.0, 1e-12);
}

TEST(PixelDistance, HueSaturationValueRoundsOnlyTheXDifference) {
  // At hue 0 the x difference is b2·b3 − a2·a3, which needs more than
  // float precision; the y difference is 0.
  const float a2 = 0.1f, a3 = 0.3f, b2 = 0.7f, b3 = 0.9f;
  const double exact_dx = static_cast<double>(b2) * b3 - static_cast<double>(a2) * a3;
  const float dx = static_cast<float>(exact_dx);
  const double dz = static_cast<double>(b3) - a3;
  ASSERT_NE(static_cast<double>(dx), exact_dx);
  EXPECT_EQ(pixel_distance(2, 0, a2, a3, 0, b2, b3), dz * dz + static_cast<double>(dx) * dx);
}

TEST(ColourSpace, RenderPicksTheNearestLayer) {
  TestSettings area(2);
  Planes<float> frame(2), out(2), layer0(2), layer1(2), layer2(2);
  Planes<float>* layers[3] = {&layer0, &layer1, &layer2};
  frame.put(0, 0.1f, 0.1f, 0.5f);
  layers[0]->put(0, -0.4f, 0.0f, 0.9f);
  layers[1]->put(0, 0.12f, 0.1f, 0.5f);
  layers[2]->put(0, 0.3f, 0.3f, 0.5f);
  frame.put(1, 0.0f, 0.0f, 0.2f);
  layers[0]->put(1, 0.0f, 0.0f, 0.25f);
  layers[1]->put(1, 0.0f, 0.0f, 0.9f);
  layers[2]->put(1, 0.0f, 0.0f, 0.1f);
  PlaneSet<float> model[3] = {layer0.set(), layer1.set(), layer2.set()};
  render_background(area.s, frame.set(), 1, 2, model, 3, out.set());
  EXPECT_EQ(out.p0[0], 0.12f);
  EXPECT_EQ(out.p2[0], 0.5f);
  EXPECT_EQ(out.p2[1], 0.25f);

  // A single layer is copied as it is.
  render_background(area.s, frame.set(), 1, 2, model + 2, 1, out.set());
  EXPECT_EQ(out.p0[0], 0.3f);
  EXPECT_EQ(out.p1[0], 0.3f);
  EXPECT_EQ(out.p2[1], 0.1f);
}

TEST(ColourSpace, RenderTieAtZeroGoesToTheLowerLayer) {
  TestSettings area(1);
  Planes<float> frame(1), out(1);
  Planes<float> lower(1), upper(1);
  // -0 and +0 are at distance 0 from each other but remain distinguishable.
  frame.put(0, 0.0f, 0.0f, 0.5f);
  lower.put(0, -0.0f, 0.0f, 0.5f);
  upper.put(0, 0.0f, 0.0f, 0.5f);
  PlaneSet<float> model[2] = {lower.set(), upper.set()};
  render_background(area.s, frame.set(), 1, 1, model, 2, out.set());
  EXPECT_TRUE(std::signbit(out.p0[0]));

  // With hue, saturation and value, grey layers of any hue are at distance 0.
  area.s.colour_mode = 2;
  frame.put(0, 0.0f, 0.0f, 0.5f);
  lower.put(0, 100.0f, 0.0f, 0.5f);
  upper.put(0, 200.0f, 0.0f, 0.5f);
  render_background(area.s, frame.set(), 1, 1, model, 2, out.set());
  EXPECT_EQ(out.p0[0], 100.0f);
}

TEST(ColourSpace, RenderComparesAgainstTheBestDistanceHeldAsFloat) {
  // Two layers at exactly the same double distance a²: when a² rounds up to
  // float the later layer wins, when it rounds down the earlier one stays.
  TestSettings area(1);
  Planes<float> frame(1), out(1), first(1), second(1);
  PlaneSet<float> model[2] = {first.set(), second.set()};
  bool saw_up = false, saw_down = false;
  for (int k = 1; k < 200 && !(saw_up && saw_down); ++k) {
    float a = 0.01f * k;
    double d = static_cast<double>(a) * a;
    double rounded = static_cast<float>(d);
    if (rounded == d) continue;
    first.put(0, a, 0.0f, 0.5f);
    second.put(0, 0.0f, a, 0.5f);
    frame.put(0, 0.0f, 0.0f, 0.5f);
    render_background(area.s, frame.set(), 1, 1, model, 2, out.set());
    SCOPED_TRACE(a);
    if (rounded > d) {
      saw_up = true;
      EXPECT_EQ(out.p1[0], a);
    } else {
      saw_down = true;
      EXPECT_EQ(out.p0[0], a);
    }
  }
  EXPECT_TRUE(saw_up && saw_down);
}

TEST(ColourSpace, RenderOutsideTheMaskIsBlackAndUndefinedLayersFallBackToLayerZero) {
  TestSettings area(2);
  area.mask(0) = 0;
  Planes<float> frame(2, 0.5f), out(2, 9.0f), first(2, NaN), second(2, NaN);
  second.p2[1] = 0.25f;
  PlaneSet<float> model[2] = {first.set(), second.set()};
  render_background(area.s, frame.set(), 1, 2, model, 2, out.set());
  EXPECT_EQ(out.p0[0], 0.0f);
  EXPECT_EQ(out.p1[0], 0.0f);
  EXPECT_EQ(out.p2[0], 0.0f);
  EXPECT_TRUE(std::isnan(out.p2[1]));  // layer 0, not garbage

  Planes<unsigned char> rgb(2, 77);
  model_to_rgb_planes(3, out.set(), 2, rgb.set());
  EXPECT_EQ(rgb.p0[0], 0);
  EXPECT_EQ(rgb.p1[0], 0);
  EXPECT_EQ(rgb.p2[0], 0);
}

TEST(ModelToRgbPlanes, EachModeReadsItsOwnPlanes) {
  Planes<float> src(1);
  Planes<unsigned char> rgb(1);
  src.put(0, 1.0f, 0.5f, 0.0f);
  model_to_rgb_planes(1, src.set(), 1, rgb.set());
  EXPECT_EQ(rgb.p0[0], 255);
  EXPECT_EQ(rgb.p1[0], 128);
  EXPECT_EQ(rgb.p2[0], 0);

  src.put(0, 120.0f, 1.0f, 1.0f);
  model_to_rgb_planes(2, src.set(), 1, rgb.set());
  EXPECT_EQ(rgb.p0[0], 0);
  EXPECT_EQ(rgb.p1[0], 255);
  EXPECT_EQ(rgb.p2[0], 0);

  src.put(0, -0.5f, -0.8660254f, 1.0f);
  model_to_rgb_planes(3, src.set(), 1, rgb.set());
  EXPECT_EQ(rgb.p0[0], 0);
  EXPECT_EQ(rgb.p1[0], 0);
  EXPECT_EQ(rgb.p2[0], 255);
}

// Every 24-bit colour through the frame conversion and back through the
// rendering path. The cone mapping is not exactly invertible in float, so a
// handful of colours come back one step off; the exact numbers pin the
// rounding of every stage (the hue angle kept in double, the products
// rounded once), which is what keeps masks identical between builds.
TEST(ColourSpace, EveryColourSurvivesTheModelRoundTrip) {
  const int side = 256;
  const std::size_t count = side * side;
  TestSettings area(count);
  Planes<float> model(count);
  Planes<unsigned char> rgb(count);
  cv::Mat frame(side, side, CV_8UC3);
  int worst = 0;
  long off_by_one = 0;
  std::uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int k = 0; k < 4; ++k) {
      hash ^= (bits >> (8 * k)) & 0xFF;
      hash *= 1099511628211ull;
    }
  };
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < side; ++green)
      for (int blue = 0; blue < side; ++blue) frame.at<cv::Vec3b>(green, blue) = cv::Vec3b(blue, green, red);
    frame_to_model(area.s, frame, static_cast<int>(count), model.set());
    model_to_rgb_planes(3, model.set(), static_cast<int>(count), rgb.set());
    for (std::size_t i = 0; i < count; ++i) {
      int green = static_cast<int>(i / side), blue = static_cast<int>(i % side);
      int diff =
          std::max({std::abs(rgb.p0[i] - red), std::abs(rgb.p1[i] - green), std::abs(rgb.p2[i] - blue)});
      worst = std::max(worst, diff);
      if (diff == 1) ++off_by_one;
      mix(model.p0[i]);
      mix(model.p1[i]);
      mix(model.p2[i]);
    }
  }
  EXPECT_LE(worst, 1);
  EXPECT_EQ(off_by_one, 12);
  EXPECT_EQ(hash, 0xcd075cf63e8479afull) << std::hex << hash;
}

}  // namespace
