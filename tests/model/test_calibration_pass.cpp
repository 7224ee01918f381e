#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/settings.h"
#include "model/calibration_pass.h"
#include "support/owned_planes.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

float blend(float w, float value, float old) {
  return static_cast<float>(static_cast<double>(w) * value + (1.0 - w) * old);
}

// A small grey scene: every model and frame pixel is (0, 0, z), so the
// distance is the squared difference of z and the shadow test sees hue 0
// and saturation 0 throughout. The 1D kernel is the single weight 1 unless
// a test says otherwise.
class CalibrationPass : public ::testing::Test {
 protected:
  void make_scene(int rows, int cols, int layers, float model_z, int width_2d, float weight) {
    H = rows;
    W = cols;
    n = layers;
    width = width_2d;
    frame = std::make_unique<OwnedPlanes>(3, H * W);
    weights = std::make_unique<OwnedPlanes>(width, width, weight);
    model = std::make_unique<OwnedModel>(n, H * W);
    for (int j = 0; j < n; ++j) fill_layer(j, model_z);
    labels.assign(static_cast<std::size_t>(H * W), LABEL_BACKGROUND);
    settings.reset_mask(H * W);
    settings.s.first_search_row = 0;
  }
  void fill_layer(int j, float z) {
    for (int p = 0; p < H * W; ++p) model->at(j, 2, p) = z;
  }
  void set_frame(const std::vector<float>& z) { frame->data[2] = z; }
  float layer_z(int j, int p) const { return model->at(j, 2, p); }
  void run() {
    calibration_pass(settings.s, FrameView{frame->get(), H, W},
                     ModelView{model->get(), n, weights->get(), width}, labels.data(), calibration_threshold);
  }

  int H = 0, W = 0, n = 0, width = 1;
  std::unique_ptr<OwnedPlanes> frame, weights;
  std::unique_ptr<OwnedModel> model;
  std::vector<unsigned char> labels;
  TestSettings settings{0, 1};
};

TEST_F(CalibrationPass, LabelsEachResultAndOnlyMatchesTeach) {
  make_scene(1, 3, 2, 0.5f, 1, 0.5f);
  fill_layer(1, 0.6f);
  const float k3[3] = {1.0f / 3.0f, 1.0f, 1.0f / 3.0f};
  settings.use_kernel({k3[0], k3[1], k3[2]});
  set_frame({0.54f, 0.4f, 0.9f});  // match layer 0, shadow of layer 0, foreground
  labels[0] = LABEL_FOREGROUND;    // last frame's label must not stop it learning
  run();

  EXPECT_EQ(labels, (std::vector<unsigned char>{LABEL_BACKGROUND, LABEL_SHADOW, LABEL_FOREGROUND}));
  EXPECT_EQ(layer_z(0, 0), blend(0.5f, 0.54f, 0.5f)) << "the matched layer learns at once";
  const double w1d = 0.05 * static_cast<double>(k3[1]);
  EXPECT_EQ(layer_z(1, 0), static_cast<float>(w1d * 0.54f + (1.0 - w1d) * 0.6f))
      << "the next layer learns with the run's learning rate";
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(layer_z(j, 1), j == 0 ? 0.5f : 0.6f) << "shadow teaches nothing";
    EXPECT_EQ(layer_z(j, 2), j == 0 ? 0.5f : 0.6f) << "foreground teaches nothing";
  }
}

TEST_F(CalibrationPass, ShadowAndForegroundPixelsLeaveTheirNeighbourhoodAlone) {
  make_scene(3, 3, 1, 0.5f, 3, 0.5f);
  std::vector<float> z(9, 0.5f);
  z[4] = 0.4f;  // shadow in the middle
  z[2] = 0.9f;  // foreground in a corner
  set_frame(z);
  run();
  std::vector<unsigned char> expected(9, LABEL_BACKGROUND);
  expected[4] = LABEL_SHADOW;
  expected[2] = LABEL_FOREGROUND;
  EXPECT_EQ(labels, expected);
  EXPECT_EQ(model->plane(0, 2), std::vector<float>(9, 0.5f));
}

TEST_F(CalibrationPass, LaterPixelsAreMatchedAgainstThisFramesUpdates) {
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.57f, 0.58f});  // pixel 1 alone is too far from 0.5
  run();
  EXPECT_EQ(labels[1], LABEL_BACKGROUND) << "pixel 0 pulled the model at pixel 1 within reach";

  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.5f, 0.58f});
  run();
  EXPECT_EQ(labels[1], LABEL_FOREGROUND);
}

TEST_F(CalibrationPass, NeighboursAfterThePixelCarryThePreviousFramesLabels) {
  // First calibration frame: all labels 0, so a later neighbour is blended
  // although it turns out foreground.
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.54f, 0.9f});
  run();
  EXPECT_EQ(labels[1], LABEL_FOREGROUND);
  EXPECT_EQ(layer_z(0, 1), blend(0.5f, 0.54f, 0.5f));

  // Foreground in the previous frame: not blended by pixel 0, even though
  // it matches later in the same sweep.
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  labels[1] = LABEL_FOREGROUND;
  set_frame({0.54f, 0.5f});
  run();
  EXPECT_EQ(labels[1], LABEL_BACKGROUND);
  EXPECT_EQ(layer_z(0, 1), 0.5f);

  // Background in the previous frame: blended by pixel 0, then by itself.
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.54f, 0.5f});
  run();
  EXPECT_EQ(layer_z(0, 1), blend(0.5f, 0.5f, blend(0.5f, 0.54f, 0.5f)));
}

TEST_F(CalibrationPass, NeighboursBeforeThePixelCarryThisFramesLabels) {
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.9f, 0.54f});
  run();
  EXPECT_EQ(labels, (std::vector<unsigned char>{LABEL_FOREGROUND, LABEL_BACKGROUND}));
  EXPECT_EQ(layer_z(0, 0), 0.5f) << "a foreground pixel before p is not blended";

  // A pixel that matched is blended again by every later match covering it.
  make_scene(1, 2, 1, 0.5f, 3, 0.5f);
  set_frame({0.52f, 0.54f});
  run();
  EXPECT_EQ(layer_z(0, 0), blend(0.5f, 0.54f, blend(0.5f, 0.52f, 0.5f)));
}

TEST_F(CalibrationPass, OnlyTheSearchAreaIsLabelledOrUsedAsCentres) {
  // Row 0 lies above the search area: it keeps its label although its
  // frame value is far off, and learns only as a window pixel of row 1.
  make_scene(2, 1, 1, 0.5f, 3, 0.5f);
  settings.s.first_search_row = 1;
  set_frame({0.9f, 0.54f});
  run();
  EXPECT_EQ(labels, (std::vector<unsigned char>{LABEL_BACKGROUND, LABEL_BACKGROUND}));
  EXPECT_EQ(layer_z(0, 0), blend(0.5f, 0.54f, 0.5f));

  // A pixel outside the search mask keeps whatever label it had.
  make_scene(1, 3, 1, 0.5f, 3, 0.5f);
  settings.mask(1) = 0;
  labels[1] = LABEL_FILTERED_FOREGROUND;
  set_frame({0.5f, 0.9f, 0.5f});
  run();
  EXPECT_EQ(labels[1], LABEL_FILTERED_FOREGROUND);
  EXPECT_EQ(layer_z(0, 1), 0.5f);

  // Nothing to search: nothing changes.
  make_scene(2, 2, 1, 0.5f, 3, 0.5f);
  settings.s.first_search_row = 2;
  set_frame({0.9f, 0.9f, 0.54f, 0.54f});
  run();
  EXPECT_EQ(labels, std::vector<unsigned char>(4, LABEL_BACKGROUND));
  EXPECT_EQ(model->plane(0, 2), std::vector<float>(4, 0.5f));

  // A first row before the image starts from row 0 instead of reading
  // outside the buffers.
  make_scene(2, 2, 1, 0.5f, 3, 0.5f);
  settings.s.first_search_row = -3;
  set_frame({0.9f, 0.5f, 0.5f, 0.5f});
  run();
  EXPECT_EQ(labels, (std::vector<unsigned char>{LABEL_FOREGROUND, 0, 0, 0}));
}

}  // namespace
