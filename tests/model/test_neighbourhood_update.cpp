#include <gtest/gtest.h>

#include <vector>

#include "core/settings.h"
#include "model/neighbourhood_update.h"
#include "support/owned_planes.h"

using namespace strellix;

namespace {

// rate times the width-3 Gaussian 1 2 1 / 2 4 2 / 1 2 1, each entry rounded to float.
OwnedPlanes rate_kernel_3(float rate) {
  const float base[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
  OwnedPlanes weights(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      weights.data[r][c] = static_cast<float>(static_cast<double>(rate) * base[r][c]);
  return weights;
}

float scaled(float rate, int factor) {
  return static_cast<float>(static_cast<double>(rate) * factor);
}

// Blending the value 1 into a zero layer leaves exactly the weight each
// pixel received, so the layer's plane 0 is a map of the applied weights.
std::vector<float> weight_map(int H, int W, const OwnedPlanes& weights_in, int width, int y, int x,
                              const std::vector<unsigned char>& labels) {
  OwnedPlanes weights = weights_in;
  OwnedPlanes layer(3, H * W);
  const float one[3] = {1.0f, 1.0f, 1.0f};
  update_neighbourhood_2d(one, H, W, layer.get(), weights.get(), width, y, x, labels.data());
  EXPECT_EQ(layer.data[0], layer.data[1]);
  EXPECT_EQ(layer.data[0], layer.data[2]);
  return layer.data[0];
}

TEST(NeighbourhoodUpdate2d, WeightTablesAtCornersAndEdges) {
  const float r = 0.05f;
  const OwnedPlanes w = rate_kernel_3(r);
  const float R = scaled(r, 1), R2 = scaled(r, 2), R4 = scaled(r, 4);
  const int H = 4, W = 4;
  const std::vector<unsigned char> background(H * W, LABEL_BACKGROUND);

  const std::vector<float> interior = {R, R2, R, 0, R2, R4, R2, 0, R, R2, R, 0, 0, 0, 0, 0};
  EXPECT_EQ(weight_map(H, W, w, 3, 1, 1, background), interior);

  // The matrix is anchored at the clipped window's corner, not re-centred.
  const std::vector<float> top_left = {R, R2, 0, 0, R2, R4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(weight_map(H, W, w, 3, 0, 0, background), top_left);

  const std::vector<float> bottom_right = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, R, R2, 0, 0, R2, R4};
  EXPECT_EQ(weight_map(H, W, w, 3, 3, 3, background), bottom_right);

  const std::vector<float> left_edge = {0, 0, 0, 0, R, R2, 0, 0, R2, R4, 0, 0, R, R2, 0, 0};
  EXPECT_EQ(weight_map(H, W, w, 3, 2, 0, background), left_edge);
}

TEST(NeighbourhoodUpdate2d, AsymmetricWeightsKeepRowsAndColumnsApart) {
  // Distinct entries catch a transposed or mirrored index.
  OwnedPlanes w(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) w.data[r][c] = static_cast<float>(r * 3 + c + 1) / 16.0f;
  const auto e = [&](int r, int c) { return w.data[r][c]; };
  const int H = 3, W = 4;
  const std::vector<unsigned char> background(H * W, LABEL_BACKGROUND);

  // Top edge, pixel (0, 2): rows anchored at 0, columns centred.
  const std::vector<float> top = {0, e(0, 0), e(0, 1), e(0, 2), 0, e(1, 0), e(1, 1), e(1, 2), 0, 0, 0, 0};
  EXPECT_EQ(weight_map(H, W, w, 3, 0, 2, background), top);

  // Right edge, pixel (1, 3): the last column of the matrix is not applied.
  const std::vector<float> right = {0, 0, e(0, 0), e(0, 1), 0, 0, e(1, 0), e(1, 1), 0, 0, e(2, 0), e(2, 1)};
  EXPECT_EQ(weight_map(H, W, w, 3, 1, 3, background), right);

  // Width 1: only the pixel itself, with entry (0, 0).
  std::vector<float> single(H * W, 0.0f);
  single[1 * W + 2] = e(0, 0);
  EXPECT_EQ(weight_map(H, W, w, 1, 1, 2, background), single);
}

TEST(NeighbourhoodUpdate2d, OnlyBackgroundLabelsAreBlended) {
  const float r = 0.05f;
  const OwnedPlanes w = rate_kernel_3(r);
  const int H = 3, W = 3;
  std::vector<unsigned char> labels(H * W, LABEL_BACKGROUND);
  labels[4] = LABEL_SHADOW;  // the centre pixel itself
  labels[1] = LABEL_FOREGROUND;
  labels[5] = LABEL_FILTERED_FOREGROUND;
  const std::vector<float> expected = {
      scaled(r, 1), 0, scaled(r, 1), scaled(r, 2), 0, 0, scaled(r, 1), scaled(r, 2), scaled(r, 1)};
  EXPECT_EQ(weight_map(H, W, w, 3, 1, 1, labels), expected);
}

TEST(NeighbourhoodUpdate2d, BlendIsUnclampedAndPerComponent) {
  OwnedPlanes w(1, 1);
  OwnedPlanes layer(3, 1);
  const std::vector<unsigned char> labels(1, LABEL_BACKGROUND);
  const float value[3] = {0.6f, -0.3f, 0.9f};
  const float old[3] = {0.2f, 0.1f, 0.4f};
  for (float weight : {0.0f, 1.0f, 0.3f, 1.5f}) {
    w.data[0][0] = weight;
    for (int k = 0; k < 3; ++k) layer.data[k][0] = old[k];
    update_neighbourhood_2d(value, 1, 1, layer.get(), w.get(), 1, 0, 0, labels.data());
    for (int k = 0; k < 3; ++k) {
      const double wd = weight;
      const float expected = static_cast<float>(wd * value[k] + (1.0 - wd) * old[k]);
      EXPECT_EQ(layer.data[k][0], expected) << "weight " << weight << " component " << k;
    }
  }
  EXPECT_EQ(layer.data[0][0], 0.8f) << "weight 1.5 extrapolates past the value";
}

TEST(NeighbourhoodUpdate2d, EvenWidthStaysInsideTheMatrix) {
  // Widths are odd in a run; an even one must still not read past the matrix.
  OwnedPlanes w(2, 2, 0.25f);
  const std::vector<unsigned char> background(9, LABEL_BACKGROUND);
  const std::vector<float> map = weight_map(3, 3, w, 2, 1, 1, background);
  int touched = 0;
  for (float v : map) touched += v != 0.0f;
  EXPECT_EQ(touched, 4);
}

struct LayerCase {
  int width;
  int m;
  std::vector<int> kernel_index;  // per layer: entry applied, -1 untouched
};

TEST(LayersUpdate1d, WeightsAcrossLayersFollowTheClippedWindow) {
  const float rate = 0.05f;
  const std::vector<float> k3 = {1.0f / 3.0f, 1.0f, 1.0f / 3.0f};
  const std::vector<float> k5 = {0.2f, 0.8f, 1.0f, 0.8f, 0.2f};
  const std::vector<float> k1 = {1.0f};
  const LayerCase cases[] = {
      {3, 2, {-1, 0, -1, 2, -1}},
      {3, 0, {-1, 1, -1, -1, -1}},  // layer 1 gets the centre entry: the full
                                    // rate
      {3, 4, {-1, -1, -1, 0, -1}},
      {5, 0, {-1, 1, 2, -1, -1}},
      {5, 1, {0, -1, 2, 3, -1}},
      {5, 2, {0, 1, -1, 3, 4}},
      {5, 4, {-1, -1, 0, 1, -1}},  // centred; the upper entries fall off
      {1, 3, {-1, -1, -1, -1, -1}},
  };
  const float value[3] = {1.0f, 1.0f, 1.0f};
  const int n = 5, p = 1;
  for (const LayerCase& c : cases) {
    const std::vector<float>& kernel = c.width == 5 ? k5 : c.width == 3 ? k3 : k1;
    std::vector<OwnedPlanes> layers;
    for (int j = 0; j < n; ++j) layers.emplace_back(3, 2);
    std::vector<PlaneSet<float>> model;
    for (auto& layer : layers) model.push_back(layer.get());
    update_layers_1d(value, model.data(), kernel.data(), c.width, c.m, n, p, rate);
    for (int j = 0; j < n; ++j) {
      const int idx = c.kernel_index[j];
      const float expected = idx < 0 ? 0.0f : static_cast<float>(static_cast<double>(rate) * kernel[idx]);
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(layers[j].data[k][p], expected)
            << "width " << c.width << " m " << c.m << " layer " << j << " plane " << k;
        EXPECT_EQ(layers[j].data[k][0], 0.0f) << "other pixels are never touched";
      }
    }
  }
}

TEST(LayersUpdate1d, SingleLayerOrZeroKernelChangesNothing) {
  const float value[3] = {0.7f, 0.2f, 0.9f};
  const std::vector<float> k3 = {1.0f / 3.0f, 1.0f, 1.0f / 3.0f};
  OwnedPlanes only(3, 1, 0.5f);
  PlaneSet<float> one[] = {only.get()};
  update_layers_1d(value, one, k3.data(), 3, 0, 1, 0, 0.05f);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(only.data[k][0], 0.5f);

  const std::vector<float> zeros(9, 0.0f);
  OwnedPlanes a(3, 1, 0.5f), b(3, 1, 0.25f);
  PlaneSet<float> two[] = {a.get(), b.get()};
  update_layers_1d(value, two, zeros.data(), 9, 0, 2, 0, 0.05f);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(b.data[k][0], 0.25f);
}

}  // namespace
