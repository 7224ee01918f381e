#include "colour/colour_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace strellix;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

struct Rgb {
  int r, g, b;
};

struct Hsv {
  float h, s, v;
};

Hsv to_hsv(int r, int g, int b) {
  Hsv out{};
  rgb_to_hsv(r, g, b, out.h, out.s, out.v);
  return out;
}

void expect_hsv(const Rgb& in, float h, float s, float v) {
  Hsv out = to_hsv(in.r, in.g, in.b);
  SCOPED_TRACE(testing::Message() << "rgb " << in.r << " " << in.g << " " << in.b);
  EXPECT_NEAR(out.h, h, 1e-4);
  EXPECT_NEAR(out.s, s, 1e-6);
  EXPECT_NEAR(out.v, v, 1e-6);
}

TEST(RgbToHsv, KnownColours) {
  expect_hsv({0, 0, 0}, 0, 0, 0);
  expect_hsv({255, 255, 255}, 0, 0, 1);
  expect_hsv({128, 128, 128}, 0, 0, 0.501961f);
  expect_hsv({255, 0, 0}, 0, 1, 1);
  expect_hsv({0, 255, 0}, 120, 1, 1);
  expect_hsv({0, 0, 255}, 240, 1, 1);
  expect_hsv({255, 0, 255}, 300, 1, 1);
  expect_hsv({255, 255, 0}, 60, 1, 1);
  expect_hsv({255, 128, 0}, 30.11765f, 1, 1);
  expect_hsv({10, 20, 30}, 210, 0.666667f, 0.117647f);
  // Red below blue gives a negative sector value, brought into [0, 360).
  expect_hsv({255, 0, 51}, 348, 1, 1);
}

TEST(RgbToHsv, ExactSectorValues) {
  // The sector offsets and the ·60 must land exactly, not just nearby.
  EXPECT_EQ(to_hsv(0, 255, 0).h, 120.0f);
  EXPECT_EQ(to_hsv(0, 0, 255).h, 240.0f);
  EXPECT_EQ(to_hsv(255, 255, 0).h, 60.0f);
  EXPECT_EQ(to_hsv(0, 255, 255).h, 180.0f);
  EXPECT_EQ(to_hsv(255, 255, 255).v, 1.0f);
  EXPECT_EQ(to_hsv(255, 0, 0).s, 1.0f);
}

TEST(RgbToHsv, OnlyLowEightBitsCount) {
  Hsv wrapped = to_hsv(256 + 255, 512, -256);
  EXPECT_EQ(wrapped.h, 0.0f);
  EXPECT_EQ(wrapped.s, 1.0f);
  EXPECT_EQ(wrapped.v, 1.0f);
  Hsv minus_one = to_hsv(-1, 0, 0);  // low byte 255
  EXPECT_EQ(minus_one.v, 1.0f);
}

TEST(RgbToHsv, HueAlwaysBelow360AndSaturationInRange) {
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; b += 7) {
        Hsv out = to_hsv(r, g, b);
        ASSERT_GE(out.h, 0.0f);
        ASSERT_LT(out.h, 360.0f);
        ASSERT_GE(out.s, 0.0f);
        ASSERT_LE(out.s, 1.0f);
      }
}

TEST(MaxMinOfThree, PickExtremes) {
  EXPECT_EQ(max_of_three(1, 3, 2), 3);
  EXPECT_EQ(max_of_three(3, 1, 2), 3);
  EXPECT_EQ(max_of_three(1, 2, 3), 3);
  EXPECT_EQ(min_of_three(2, 1, 3), 1);
  EXPECT_EQ(min_of_three(1, 2, 3), 1);
  EXPECT_EQ(min_of_three(3, 2, 1), 1);
}

TEST(HsvToRgb, RoundTripsKnownColoursToBytes) {
  const Rgb colours[] = {{0, 0, 0},     {255, 255, 255}, {128, 128, 128}, {255, 0, 0},
                         {0, 255, 0},   {0, 0, 255},     {255, 0, 255},   {255, 255, 0},
                         {255, 128, 0}, {10, 20, 30},    {0, 255, 255},   {200, 10, 100}};
  for (const Rgb& c : colours) {
    Hsv hsv = to_hsv(c.r, c.g, c.b);
    float r, g, b;
    hsv_to_rgb(hsv.h, hsv.s, hsv.v, r, g, b);
    SCOPED_TRACE(testing::Message() << "rgb " << c.r << " " << c.g << " " << c.b);
    EXPECT_EQ(float_to_byte(r * 255.0f), c.r);
    EXPECT_EQ(float_to_byte(g * 255.0f), c.g);
    EXPECT_EQ(float_to_byte(b * 255.0f), c.b);
  }
}

TEST(HsvToRgb, HuesOutsideTheWheelFallToTheLastRow) {
  float r, g, b;
  hsv_to_rgb(360.0f, 1, 1, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_NEAR(b, 0.9999995f, 1e-7);
  EXPECT_EQ(float_to_byte(b * 255.0f), 255);

  hsv_to_rgb(-10.0f, 1, 1, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_NEAR(b, 0.1666667f, 1e-6);

  // Hues too large for an int and undefined hues must not reach an
  // out-of-range conversion (the sanitizer build checks this).
  hsv_to_rgb(1e30f, 1, 1, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  hsv_to_rgb(NaN, 1, 0.5f, r, g, b);
  EXPECT_EQ(r, 0.5f);
  EXPECT_EQ(g, 0.0f);
  hsv_to_rgb(-Inf, 1, 0.5f, r, g, b);
  EXPECT_EQ(r, 0.5f);
}

TEST(HsvToRgb, GreyIgnoresHue) {
  float r, g, b;
  hsv_to_rgb(123.0f, 0, 0.25f, r, g, b);
  EXPECT_EQ(r, 0.25f);
  EXPECT_EQ(g, 0.25f);
  EXPECT_EQ(b, 0.25f);
}

TEST(FloatToByte, RoundsHalfUpAndClamps) {
  EXPECT_EQ(float_to_byte(-0.1f), 0);
  EXPECT_EQ(float_to_byte(-0.0f), 0);
  EXPECT_EQ(float_to_byte(0.49f), 0);
  EXPECT_EQ(float_to_byte(0.5f), 1);
  EXPECT_EQ(float_to_byte(127.5f), 128);
  EXPECT_EQ(float_to_byte(254.49f), 254);
  EXPECT_EQ(float_to_byte(254.5f), 255);
  EXPECT_EQ(float_to_byte(255.0f), 255);
  EXPECT_EQ(float_to_byte(255.4f), 255);
  EXPECT_EQ(float_to_byte(300.0f), 255);
  EXPECT_EQ(float_to_byte(Inf), 255);
  EXPECT_EQ(float_to_byte(-Inf), 0);
  EXPECT_EQ(float_to_byte(NaN), 0);
  EXPECT_EQ(float_to_byte(-NaN), 0);
}

TEST(ConeToHsv, KnownPoints) {
  float h, s, v;
  cone_to_hsv(-1, 0, 1, h, s, v);
  EXPECT_FLOAT_EQ(h, 180);
  EXPECT_FLOAT_EQ(s, 1);
  EXPECT_EQ(v, 1);

  cone_to_hsv(0, 0, 0.5f, h, s, v);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(v, 0.5f);

  // Straight along y the cosine is below the threshold: the sine formula.
  cone_to_hsv(0, 0.5f, 1, h, s, v);
  EXPECT_FLOAT_EQ(h, 90);
  EXPECT_FLOAT_EQ(s, 0.5f);
  EXPECT_EQ(v, 1);

  // Negative angles are brought into [0, 360].
  cone_to_hsv(0, -0.25f, 0.5f, h, s, v);
  EXPECT_FLOAT_EQ(h, 270);
  EXPECT_FLOAT_EQ(s, 0.5f);
}

TEST(ConeToHsv, TipHasUndefinedSaturationAndRendersBlack) {
  float h, s, v;
  cone_to_hsv(0, 0, 0, h, s, v);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(std::isnan(s));
  float r, g, b;
  hsv_to_rgb(h, s, v, r, g, b);
  EXPECT_EQ(float_to_byte(r * 255.0f), 0);
  EXPECT_EQ(float_to_byte(g * 255.0f), 0);
  EXPECT_EQ(float_to_byte(b * 255.0f), 0);
}

TEST(ConeToHsv, TinyNegativeAngleReachesExactly360) {
  float h, s, v;
  cone_to_hsv(1, -1e-9f, 1, h, s, v);
  EXPECT_EQ(h, 360.0f);
  EXPECT_FLOAT_EQ(s, 1);
}

TEST(ConeToHsv, InvertsTheConeMappingOfEveryHueStep) {
  for (int deg = 0; deg < 360; ++deg) {
    double rad = deg * static_cast<double>(DEG_TO_RAD);
    float s0 = 0.75f, v0 = 0.8f;
    float x = static_cast<float>(std::cos(rad) * s0 * v0);
    float y = static_cast<float>(std::sin(rad) * s0 * v0);
    float h, s, v;
    cone_to_hsv(x, y, v0, h, s, v);
    SCOPED_TRACE(deg);
    // Hue 0 may come back as 0 or as 360 from a tiny negative angle. Near
    // 90 and 270 degrees the small x makes the saturation less precise.
    EXPECT_NEAR(std::fmod(h, 360.0f), deg, 1e-3);
    EXPECT_NEAR(s, s0, 5e-5);
    EXPECT_EQ(v, v0);
  }
}

TEST(ModelPixelToHsv, FollowsTheMode) {
  float h, s, v;
  model_pixel_to_hsv(2, 42.5f, 0.25f, 0.75f, h, s, v);
  EXPECT_EQ(h, 42.5f);
  EXPECT_EQ(s, 0.25f);
  EXPECT_EQ(v, 0.75f);

  // Normalised RGB is first rounded to bytes: 0.5 becomes 128/255.
  model_pixel_to_hsv(1, 0.5f, 0.5f, 0.5f, h, s, v);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_NEAR(v, 0.501961f, 1e-6);
  model_pixel_to_hsv(1, 0.0f, 1.0f, 0.0f, h, s, v);
  EXPECT_EQ(h, 120.0f);

  model_pixel_to_hsv(3, -1, 0, 1, h, s, v);
  EXPECT_FLOAT_EQ(h, 180);
  EXPECT_FLOAT_EQ(s, 1);
  model_pixel_to_hsv(0, 0, 0.5f, 1, h, s, v);
  EXPECT_FLOAT_EQ(h, 90);
}

}  // namespace
