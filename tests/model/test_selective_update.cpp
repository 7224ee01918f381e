#include <gtest/gtest.h>

#include <vector>

#include "core/settings.h"
#include "model/selective_update.h"
#include "support/owned_planes.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

// A model of H*W pixels whose components all start at `start`, a frame,
// and the settings the update reads: kernel 1/3 1 1/3 across layers and
// learning rate 0.5.
struct Fixture {
  int H, W;
  OwnedModel model;
  OwnedPlanes frame;
  TestSettings settings;

  Fixture(int h, int w, int layers, float start)
      : H(h), W(w), model(layers, h * w, start), frame(3, h * w), settings(h * w) {
    settings.use_kernel({1.0f / 3, 1.0f, 1.0f / 3});
    settings.s.layer_count = layers;
    settings.s.learning_rate = 0.5f;
  }
  void set_frame(int p, float v) {
    for (int c = 0; c < 3; ++c) frame.data[c][p] = v;
  }
  float at(int layer, int p) const { return model.at(layer, 0, p); }
  void run(const std::vector<unsigned char>& labels, const std::vector<int>& match,
           std::vector<std::vector<float>> weights) {
    std::vector<float*> weight_rows;
    for (auto& row : weights) weight_rows.push_back(row.data());
    std::vector<unsigned char> filtered = labels;
    std::vector<int> matched = match;
    selective_update(settings.s, FrameView{frame.get(), H, W},
                     ModelView{model.get(), model.n, weight_rows.data(), static_cast<int>(weights.size())},
                     LabelView{nullptr, filtered.data(), matched.data()});
  }
};

const std::vector<std::vector<float>> kHalf3 = {{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}};

// Pixels 1, 2 and 3 are a filled-in hole, filtered foreground and shadow,
// each with a layer in match_index; pixel 5 was never labelled in this frame
// (no match) and pixel 6 lies outside the search area. None of them
// learns, and only the two learnt pixels' windows reach pixels 1 and 5.
TEST(SelectiveUpdate, OnlyFilteredBackgroundWithAMatchIsLearnt) {
  Fixture f(1, 7, 2, 0.0f);
  for (int p = 0; p < 7; ++p) f.set_frame(p, 1.0f);
  f.settings.mask(6) = 0;
  f.run({0, 255, 170, 85, 0, 0, 0}, {0, 0, 0, 1, 0, -1, 0}, kHalf3);

  // Layer 1 changes only through the 1D update of a learnt pixel.
  const std::vector<float> layer1 = {0.5f, 0, 0, 0, 0.5f, 0, 0};
  // Layer 0: pixel 0 learns itself; pixel 4 learns itself and blends its
  // background neighbour 5; pixel 6 is blended only through pixel 5's
  // window, which never runs.
  const std::vector<float> layer0 = {0.5f, 0, 0, 0, 0.5f, 0.5f, 0};
  for (int p = 0; p < 7; ++p) {
    EXPECT_EQ(f.at(1, p), layer1[p]) << p;
    EXPECT_EQ(f.at(0, p), layer0[p]) << p;
  }
}

// Two background pixels side by side: the window weights are anchored at
// the clipped window's corner, so both centres give pixel 0 weight 0.5 and
// pixel 1 weight 0.25. The final values show that pixel 0 (value 1) went
// first and pixel 1 (value 0) second.
TEST(SelectiveUpdate, CentresBlendInRasterOrder) {
  Fixture f(1, 2, 1, 0.0f);
  f.set_frame(0, 1.0f);
  f.run({0, 0}, {0, 0}, {{0.5f, 0.25f, 0}, {0, 0, 0}, {0, 0, 0}});
  EXPECT_EQ(f.at(0, 0), 0.25f);
  EXPECT_EQ(f.at(0, 1), 0.1875f);
}

TEST(SelectiveUpdate, RowsAboveFirstSearchRowAreNotCentres) {
  Fixture f(3, 1, 1, 0.0f);
  for (int p = 0; p < 3; ++p) f.set_frame(p, 1.0f);
  f.settings.s.first_search_row = 2;
  f.run({0, 0, 0}, {0, 0, 0}, {{0.5f}});
  EXPECT_EQ(f.at(0, 0), 0.0f);
  EXPECT_EQ(f.at(0, 1), 0.0f);
  EXPECT_EQ(f.at(0, 2), 0.5f);

  f.settings.s.first_search_row = 3;
  f.run({0, 0, 0}, {0, 0, 0}, {{0.5f}});
  EXPECT_EQ(f.at(0, 2), 0.5f);
}

}  // namespace
