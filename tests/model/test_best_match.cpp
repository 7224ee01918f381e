#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "colour/model_space.h"
#include "model/best_match.h"
#include "model/settings.h"

using namespace strellix;

namespace {

// n layers of 3 planes with one pixel each; enough for a per-pixel search.
struct OnePixelModel {
  std::vector<std::vector<float>> planes;
  std::vector<float*> plane_ptrs;
  std::vector<PlaneSet<float>> layers;

  explicit OnePixelModel(int n) : planes(static_cast<std::size_t>(3 * n), std::vector<float>(1, 0.0f)) {
    for (auto& plane : planes) plane_ptrs.push_back(plane.data());
    for (int i = 0; i < n; ++i) layers.push_back(plane_ptrs.data() + 3 * i);
  }
  void set(int layer, float a, float b, float c) {
    layers[layer][0][0] = a;
    layers[layer][1][0] = b;
    layers[layer][2][0] = c;
  }
  PlaneSet<float>* get() { return layers.data(); }
  int count() const { return static_cast<int>(layers.size()); }
};

// Puts the build-time switches back after each test that changes them.
class MatchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    colour_mode = saved_mode;
    use_shadow_test = saved_shadow;
  }
  int saved_mode = colour_mode;
  int saved_shadow = use_shadow_test;
};

int search(OnePixelModel& model, float c0, float c1, float c2, float threshold, int& index) {
  return find_best_match(c0, c1, c2, model.get(), 0, model.count(), threshold, index);
}

// A brightness offset from 0.25 whose squared distance rounds to float in the
// requested direction (up when round_up, else down).
float offset_rounding(bool round_up) {
  for (int k = 1; k < 1000; ++k) {
    const float z = 0.25f + static_cast<float>(k) * 0.001f;
    const double d = pixel_distance(colour_mode, 0.0f, 0.0f, 0.25f, 0.0f, 0.0f, z);
    const double rounded = static_cast<float>(d);
    if (round_up ? rounded > d : rounded < d) return z;
  }
  return std::numeric_limits<float>::quiet_NaN();
}

using BestMatch = MatchTest;

TEST_F(BestMatch, EqualLayersTieByRoundingDirectionOfTheDistance) {
  colour_mode = 3;
  OnePixelModel model(4);
  int index = 99;

  for (int i = 0; i < 4; ++i) model.set(i, 0.1f, -0.2f, 0.5f);
  EXPECT_EQ(search(model, 0.1f, -0.2f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0) << "distance 0 keeps the first layer";

  const float down = offset_rounding(false);
  ASSERT_FALSE(std::isnan(down));
  for (int i = 0; i < 4; ++i) model.set(i, 0.0f, 0.0f, down);
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.25f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0) << "a distance that rounds down is not below its rounded best again";

  const float up = offset_rounding(true);
  ASSERT_FALSE(std::isnan(up));
  for (int i = 0; i < 4; ++i) model.set(i, 0.0f, 0.0f, up);
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.25f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 3) << "a distance that rounds up beats its rounded best at every later layer";
}

TEST_F(BestMatch, NearestLayerWithinThresholdIsAccepted) {
  colour_mode = 3;
  OnePixelModel model(3);
  int index = 99;
  model.set(0, 0.0f, 0.0f, 0.56f);  // d = 0.0036
  model.set(1, 0.0f, 0.0f, 0.51f);  // d = 0.0001, the nearest
  model.set(2, 0.0f, 0.0f, 0.53f);  // d = 0.0009
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  model.set(1, 0.0f, 0.0f, 0.9f);  // now far: layer 2 is nearest
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 2);
}

TEST_F(BestMatch, ThresholdIsInclusiveAndMissesFallBackToMinusOne) {
  colour_mode = 3;
  use_shadow_test = 0;
  OnePixelModel model(2);
  int index = 99;
  model.set(0, 0.0f, 0.0f, 1.0f);
  model.set(1, 0.0f, 0.0f, 0.75f);  // d = 0.0625 exactly, nearer than layer 0
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.5f, 0.0625f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  const float just_below = std::nextafter(0.0625f, 0.0f);
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.5f, just_below, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

TEST_F(BestMatch, DistancesFromTheStartValueUpNeverMatch) {
  colour_mode = 3;
  use_shadow_test = 0;
  OnePixelModel model(1);
  int index = 99;
  model.set(0, 0.0f, 0.0f, 400.0f);  // d = 160000
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.0f, 1.0e6f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);

  model.set(0, 0.0f, 0.0f, 300.0f);  // d = 90000, below the start value
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.0f, 1.0e6f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0);
}

TEST_F(BestMatch, NotANumberNeverLowersTheBest) {
  colour_mode = 3;
  use_shadow_test = 0;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  OnePixelModel model(2);
  int index = 99;
  model.set(0, nan, 0.0f, 0.5f);
  model.set(1, 0.0f, 0.0f, 0.52f);
  EXPECT_EQ(search(model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  OnePixelModel lone(1);
  lone.set(0, nan, nan, nan);
  EXPECT_EQ(search(lone, 0.0f, 0.0f, 0.5f, 1.0e6f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

TEST_F(BestMatch, ShadowOnlyWhenNothingMatchesAndTheTestIsOn) {
  colour_mode = 3;
  OnePixelModel model(2);
  int index = 99;
  model.set(0, 0.0f, 0.0f, 0.1f);                // far and darker: no shadow
  model.set(1, 0.3f, 0.0f, 1.0f);                // hue 0, saturation 0.3, value 1
  const float c0 = 0.24f, c1 = 0.0f, c2 = 0.8f;  // same hue and saturation, value 0.8

  use_shadow_test = 1;
  EXPECT_EQ(search(model, c0, c1, c2, 0.005f, index), MATCH_SHADOW);
  EXPECT_EQ(index, 1);

  use_shadow_test = 0;
  EXPECT_EQ(search(model, c0, c1, c2, 0.005f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);

  use_shadow_test = 1;  // a match within the threshold takes precedence
  EXPECT_EQ(search(model, c0, c1, c2, 1.0f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  OnePixelModel empty(0);
  EXPECT_EQ(search(empty, c0, c1, c2, 1.0f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

// In mode 2 the model planes hold hue, saturation and value directly, so
// the bounds of the shadow test can be hit exactly.
class ShadowTest : public MatchTest {
 protected:
  void SetUp() override { colour_mode = 2; }

  // Pixel (hP, sP, vP) against a single layer (hL, sL, vL).
  bool passes(float hP, float sP, float vP, float hL, float sL, float vL) {
    OnePixelModel model(1);
    model.set(0, hL, sL, vL);
    int index = 42;
    const int result = shadow_test(hP, sP, vP, model.get(), 0, 1, index);
    EXPECT_EQ(index, result == 1 ? 0 : 42);
    return result == 1;
  }
};

TEST_F(ShadowTest, ValueRatioBoundsAreInclusiveAndRejectUndefinedRatios) {
  EXPECT_TRUE(passes(40.0f, 0.5f, 0.6f, 40.0f, 0.5f, 0.6f)) << "ratio 1";
  EXPECT_TRUE(passes(40.0f, 0.5f, 0.7f, 40.0f, 0.5f, 1.0f)) << "ratio exactly 0.7f";
  EXPECT_FALSE(passes(40.0f, 0.5f, std::nextafter(0.7f, 0.0f), 40.0f, 0.5f, 1.0f));
  EXPECT_FALSE(passes(40.0f, 0.5f, std::nextafter(1.0f, 2.0f), 40.0f, 0.5f, 1.0f)) << "brighter";
  EXPECT_FALSE(passes(40.0f, 0.5f, 0.5f, 40.0f, 0.5f, 0.0f)) << "layer value 0";
  EXPECT_FALSE(passes(40.0f, 0.5f, 0.0f, 40.0f, 0.5f, 0.0f)) << "0/0";
  EXPECT_FALSE(passes(40.0f, 0.5f, 0.0f, 40.0f, 0.5f, 0.5f)) << "black pixel";
}

TEST_F(ShadowTest, SaturationAndHueBoundsAreStrict) {
  EXPECT_FALSE(passes(40.0f, 0.1f, 0.8f, 40.0f, 0.0f, 1.0f)) << "saturation 0.1f apart";
  EXPECT_FALSE(passes(40.0f, 0.0f, 0.8f, 40.0f, 0.1f, 1.0f)) << "the other way round";
  EXPECT_TRUE(passes(40.0f, std::nextafter(0.1f, 0.0f), 0.8f, 40.0f, 0.0f, 1.0f));

  EXPECT_FALSE(passes(15.0f, 0.5f, 0.8f, 5.0f, 0.5f, 1.0f)) << "hue exactly 10 apart";
  EXPECT_TRUE(passes(14.5f, 0.5f, 0.8f, 5.0f, 0.5f, 1.0f));
  EXPECT_FALSE(passes(0.0f, 0.5f, 0.8f, 180.0f, 0.5f, 1.0f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(passes(nan, 0.5f, 0.8f, 5.0f, 0.5f, 1.0f));
  EXPECT_FALSE(passes(40.0f, nan, 0.8f, 40.0f, 0.5f, 1.0f));
}

TEST_F(ShadowTest, HueDifferenceTakesTheShortWayRound) {
  EXPECT_TRUE(passes(355.0f, 0.5f, 0.8f, 3.0f, 0.5f, 1.0f)) << "8 degrees across 0";
  EXPECT_TRUE(passes(3.0f, 0.5f, 0.8f, 355.0f, 0.5f, 1.0f));
  EXPECT_FALSE(passes(355.0f, 0.5f, 0.8f, 5.0f, 0.5f, 1.0f)) << "exactly 10 across 0";
  EXPECT_TRUE(passes(0.0f, 0.5f, 0.8f, 360.0f, 0.5f, 1.0f)) << "0 and 360 are one hue";
  // 360 - 350.00000012 is just below 10 but rounds to 10.0f: the wrapped
  // difference is held in single precision, so this pair fails.
  EXPECT_FALSE(passes(352.0f, 0.5f, 0.8f, std::nextafter(2.0f, 0.0f), 0.5f, 1.0f));
}

TEST_F(ShadowTest, FirstPassingLayerWinsNotTheBestFitting) {
  OnePixelModel model(4);
  model.set(0, 40.0f, 0.5f, 0.5f);   // darker than the pixel: fails
  model.set(1, 45.0f, 0.55f, 1.0f);  // passes, loosely
  model.set(2, 40.0f, 0.9f, 1.0f);   // saturation too far: fails
  model.set(3, 40.0f, 0.5f, 0.9f);   // passes, fits best
  int index = -1;
  EXPECT_EQ(shadow_test(40.0f, 0.5f, 0.8f, model.get(), 0, 4, index), 1);
  EXPECT_EQ(index, 1);

  use_shadow_test = 1;
  EXPECT_EQ(find_best_match(40.0f, 0.5f, 0.8f, model.get(), 0, 4, 0.0001f, index), MATCH_SHADOW);
  EXPECT_EQ(index, 1);

  index = 7;
  EXPECT_EQ(shadow_test(40.0f, 0.5f, 0.8f, model.get(), 0, 1, index), 0);
  EXPECT_EQ(index, 7) << "a failed test leaves the index alone";
}

TEST_F(ShadowTest, ConeCoordinatesOfADarkerPixelPass) {
  colour_mode = 3;
  OnePixelModel model(1);
  model.set(0, 0.0f, 0.4f, 1.0f);  // hue 90, saturation 0.4, value 1
  int index = -1;
  EXPECT_EQ(shadow_test(0.0f, 0.32f, 0.8f, model.get(), 0, 1, index), 1);
  EXPECT_EQ(index, 0);
  index = -1;
  EXPECT_EQ(shadow_test(0.0f, 0.0f, 0.0f, model.get(), 0, 1, index), 0) << "black pixel";
  model.set(0, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(shadow_test(0.0f, 0.32f, 0.8f, model.get(), 0, 1, index), 0) << "black layer";
  EXPECT_EQ(index, -1);
}

}  // namespace
