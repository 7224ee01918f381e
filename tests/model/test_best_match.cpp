#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "colour/model_space.h"
#include "core/settings.h"
#include "model/best_match.h"
#include "support/owned_planes.h"

using namespace strellix;

namespace {

// Pixel 0 of the model, which is all a per-pixel search needs.
int search(const ModelSettings& s, OwnedModel& model, float c0, float c1, float c2, float threshold,
           int& index) {
  return find_best_match(s, c0, c1, c2, model.get(), 0, model.n, threshold, index);
}

// A brightness offset from 0.25 whose squared distance rounds to float in the
// requested direction (up when round_up, else down).
float offset_rounding(bool round_up) {
  for (int k = 1; k < 1000; ++k) {
    const float z = 0.25f + static_cast<float>(k) * 0.001f;
    const double d = pixel_distance(3, 0.0f, 0.0f, 0.25f, 0.0f, 0.0f, z);
    const double rounded = static_cast<float>(d);
    if (round_up ? rounded > d : rounded < d) return z;
  }
  return std::numeric_limits<float>::quiet_NaN();
}

TEST(BestMatch, EqualLayersTieByRoundingDirectionOfTheDistance) {
  ModelSettings s;
  OwnedModel model(4, 1);
  int index = 99;

  for (int i = 0; i < 4; ++i) model.set(i, 0, 0.1f, -0.2f, 0.5f);
  EXPECT_EQ(search(s, model, 0.1f, -0.2f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0) << "distance 0 keeps the first layer";

  const float down = offset_rounding(false);
  ASSERT_FALSE(std::isnan(down));
  for (int i = 0; i < 4; ++i) model.set(i, 0, 0.0f, 0.0f, down);
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.25f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0) << "a distance that rounds down is not below its rounded best again";

  const float up = offset_rounding(true);
  ASSERT_FALSE(std::isnan(up));
  for (int i = 0; i < 4; ++i) model.set(i, 0, 0.0f, 0.0f, up);
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.25f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 3) << "a distance that rounds up beats its rounded best at every later layer";
}

TEST(BestMatch, NearestLayerWithinThresholdIsAccepted) {
  ModelSettings s;
  OwnedModel model(3, 1);
  int index = 99;
  model.set(0, 0, 0.0f, 0.0f, 0.56f);  // d = 0.0036
  model.set(1, 0, 0.0f, 0.0f, 0.51f);  // d = 0.0001, the nearest
  model.set(2, 0, 0.0f, 0.0f, 0.53f);  // d = 0.0009
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  model.set(1, 0, 0.0f, 0.0f, 0.9f);  // now far: layer 2 is nearest
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 2);
}

TEST(BestMatch, ThresholdIsInclusiveAndMissesFallBackToMinusOne) {
  ModelSettings s;
  s.use_shadow_test = 0;
  OwnedModel model(2, 1);
  int index = 99;
  model.set(0, 0, 0.0f, 0.0f, 1.0f);
  model.set(1, 0, 0.0f, 0.0f, 0.75f);  // d = 0.0625 exactly, nearer than layer 0
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.5f, 0.0625f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  const float just_below = std::nextafter(0.0625f, 0.0f);
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.5f, just_below, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

TEST(BestMatch, DistancesFromTheStartValueUpNeverMatch) {
  ModelSettings s;
  s.use_shadow_test = 0;
  OwnedModel model(1, 1);
  int index = 99;
  model.set(0, 0, 0.0f, 0.0f, 400.0f);  // d = 160000
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.0f, 1.0e6f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);

  model.set(0, 0, 0.0f, 0.0f, 300.0f);  // d = 90000, below the start value
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.0f, 1.0e6f, index), MATCH_FOUND);
  EXPECT_EQ(index, 0);
}

TEST(BestMatch, NotANumberNeverLowersTheBest) {
  ModelSettings s;
  s.use_shadow_test = 0;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  OwnedModel model(2, 1);
  int index = 99;
  model.set(0, 0, nan, 0.0f, 0.5f);
  model.set(1, 0, 0.0f, 0.0f, 0.52f);
  EXPECT_EQ(search(s, model, 0.0f, 0.0f, 0.5f, 0.005f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  OwnedModel lone(1, 1);
  lone.set(0, 0, nan, nan, nan);
  EXPECT_EQ(search(s, lone, 0.0f, 0.0f, 0.5f, 1.0e6f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

TEST(BestMatch, ShadowOnlyWhenNothingMatchesAndTheTestIsOn) {
  ModelSettings s;
  OwnedModel model(2, 1);
  int index = 99;
  model.set(0, 0, 0.0f, 0.0f, 0.1f);             // far and darker: no shadow
  model.set(1, 0, 0.3f, 0.0f, 1.0f);             // hue 0, saturation 0.3, value 1
  const float c0 = 0.24f, c1 = 0.0f, c2 = 0.8f;  // same hue and saturation, value 0.8

  s.use_shadow_test = 1;
  EXPECT_EQ(search(s, model, c0, c1, c2, 0.005f, index), MATCH_SHADOW);
  EXPECT_EQ(index, 1);

  s.use_shadow_test = 0;
  EXPECT_EQ(search(s, model, c0, c1, c2, 0.005f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);

  s.use_shadow_test = 1;  // a match within the threshold takes precedence
  EXPECT_EQ(search(s, model, c0, c1, c2, 1.0f, index), MATCH_FOUND);
  EXPECT_EQ(index, 1);

  OwnedModel empty(0, 1);
  EXPECT_EQ(search(s, empty, c0, c1, c2, 1.0f, index), MATCH_NONE);
  EXPECT_EQ(index, -1);
}

// In mode 2 the model planes hold hue, saturation and value directly, so
// the bounds of the shadow test can be hit exactly.
class ShadowTest : public testing::Test {
 protected:
  ShadowTest() { s.colour_mode = 2; }
  ModelSettings s;

  // Pixel (hP, sP, vP) against a single layer (hL, sL, vL).
  bool passes(float hP, float sP, float vP, float hL, float sL, float vL) {
    OwnedModel model(1, 1);
    model.set(0, 0, hL, sL, vL);
    int index = 42;
    const int result = shadow_test(s, hP, sP, vP, model.get(), 0, 1, index);
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
  OwnedModel model(4, 1);
  model.set(0, 0, 40.0f, 0.5f, 0.5f);   // darker than the pixel: fails
  model.set(1, 0, 45.0f, 0.55f, 1.0f);  // passes, loosely
  model.set(2, 0, 40.0f, 0.9f, 1.0f);   // saturation too far: fails
  model.set(3, 0, 40.0f, 0.5f, 0.9f);   // passes, fits best
  int index = -1;
  EXPECT_EQ(shadow_test(s, 40.0f, 0.5f, 0.8f, model.get(), 0, 4, index), 1);
  EXPECT_EQ(index, 1);

  s.use_shadow_test = 1;
  EXPECT_EQ(find_best_match(s, 40.0f, 0.5f, 0.8f, model.get(), 0, 4, 0.0001f, index), MATCH_SHADOW);
  EXPECT_EQ(index, 1);

  index = 7;
  EXPECT_EQ(shadow_test(s, 40.0f, 0.5f, 0.8f, model.get(), 0, 1, index), 0);
  EXPECT_EQ(index, 7) << "a failed test leaves the index alone";
}

TEST_F(ShadowTest, ConeCoordinatesOfADarkerPixelPass) {
  s.colour_mode = 3;
  OwnedModel model(1, 1);
  model.set(0, 0, 0.0f, 0.4f, 1.0f);  // hue 90, saturation 0.4, value 1
  int index = -1;
  EXPECT_EQ(shadow_test(s, 0.0f, 0.32f, 0.8f, model.get(), 0, 1, index), 1);
  EXPECT_EQ(index, 0);
  index = -1;
  EXPECT_EQ(shadow_test(s, 0.0f, 0.0f, 0.0f, model.get(), 0, 1, index), 0) << "black pixel";
  model.set(0, 0, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(shadow_test(s, 0.0f, 0.32f, 0.8f, model.get(), 0, 1, index), 0) << "black layer";
  EXPECT_EQ(index, -1);
}

}  // namespace
