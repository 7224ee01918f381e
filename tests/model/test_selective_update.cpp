#include <gtest/gtest.h>

#include <vector>

#include "model/selective_update.h"
#include "model/settings.h"

using namespace strellix;

namespace {

// A one-plane-per-component model of H*W pixels whose components all start
// at `start`, and the run-wide settings the update reads.
struct Fixture {
  int H, W, n;
  std::vector<std::vector<float>> planes;  // layer k, component c at 3k+c
  std::vector<float*> plane_rows;
  std::vector<PlaneSet<float>> layers;
  std::vector<float> frame_data;
  float* frame_rows[3];
  std::vector<unsigned char> mask;
  float kernel[3] = {1.0f / 3, 1.0f, 1.0f / 3};
  // Saved settings, put back on destruction.
  int saved_n = layer_count, saved_w1 = width_1d, saved_row = first_search_row;
  float saved_lr = learning_rate;
  float* saved_kernel = kernel_1d;
  unsigned char* saved_mask = search_mask;

  Fixture(int h, int w, int layers_n, float start)
      : H(h),
        W(w),
        n(layers_n),
        planes(3 * layers_n, std::vector<float>(h * w, start)),
        plane_rows(3 * layers_n),
        layers(layers_n),
        frame_data(3 * h * w, 0.0f),
        mask(h * w, 255) {
    for (int i = 0; i < 3 * n; ++i) plane_rows[i] = planes[i].data();
    for (int k = 0; k < n; ++k) layers[k] = &plane_rows[3 * k];
    for (int c = 0; c < 3; ++c) frame_rows[c] = &frame_data[c * h * w];
    layer_count = n;
    width_1d = 3;
    learning_rate = 0.5f;
    kernel_1d = kernel;
    first_search_row = 0;
    search_mask = mask.data();
  }
  ~Fixture() {
    layer_count = saved_n;
    width_1d = saved_w1;
    first_search_row = saved_row;
    learning_rate = saved_lr;
    kernel_1d = saved_kernel;
    search_mask = saved_mask;
  }
  void set_frame(int p, float v) {
    for (int c = 0; c < 3; ++c) frame_rows[c][p] = v;
  }
  float at(int layer, int p) const { return planes[3 * layer][p]; }
  void run(const std::vector<unsigned char>& labels, const std::vector<int>& match,
           std::vector<std::vector<float>> weights) {
    std::vector<float*> weight_rows;
    for (auto& row : weights) weight_rows.push_back(row.data());
    selective_update(frame_rows, H, W, layers.data(), labels.data(), weight_rows.data(),
                     static_cast<int>(weights.size()), match.data());
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
  f.mask[6] = 0;
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
  first_search_row = 2;
  f.run({0, 0, 0}, {0, 0, 0}, {{0.5f}});
  EXPECT_EQ(f.at(0, 0), 0.0f);
  EXPECT_EQ(f.at(0, 1), 0.0f);
  EXPECT_EQ(f.at(0, 2), 0.5f);

  first_search_row = 3;
  f.run({0, 0, 0}, {0, 0, 0}, {{0.5f}});
  EXPECT_EQ(f.at(0, 2), 0.5f);
}

}  // namespace
