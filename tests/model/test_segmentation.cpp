#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "model/segmentation.h"
#include "model/settings.h"

using namespace strellix;

namespace {

using Colour = std::array<float, 3>;

// Three planes of model-space values, one colour per pixel.
struct Planes {
  std::vector<std::vector<float>> data;
  std::vector<float*> rows;
  explicit Planes(const std::vector<Colour>& pixels) : data(3), rows(3) {
    for (int k = 0; k < 3; ++k) {
      for (const Colour& c : pixels) data[k].push_back(c[k]);
      rows[k] = data[k].data();
    }
  }
  PlaneSet<float> set() { return rows.data(); }
};

// Hue 0, saturation 0.5, value 0.8 in cone coordinates, and its opposite
// and quarter-turn hues.
const Colour kRed = {0.4f, 0.0f, 0.8f};
const Colour kCyan = {-0.4f, 0.0f, 0.8f};
const Colour kGreenish = {0.0f, 0.4f, 0.8f};
const Colour kDarkRed = {0.32f, 0.0f, 0.64f};  // kRed at 0.8 of its value

TEST(SegmentFrame, LabelsMatchShadowAndForegroundWithTheirLayers) {
  int saved_mode = colour_mode, saved_shadow = use_shadow_test;
  unsigned char* saved_mask = search_mask;
  colour_mode = 3;
  use_shadow_test = 1;

  // Pixels: matches layer 1; a shadow of layer 1 (layer 0 has the
  // opposite hue and fails); unlike either layer; outside the search area.
  Planes frame({kRed, kDarkRed, kGreenish, kRed});
  Planes layer0({kCyan, kCyan, kCyan, kCyan});
  Planes layer1({kRed, kRed, kRed, kRed});
  PlaneSet<float> model[2] = {layer0.set(), layer1.set()};
  std::vector<unsigned char> mask = {255, 255, 255, 0};
  search_mask = mask.data();
  std::vector<unsigned char> labels(4, 42);
  std::vector<int> match(4, 77);

  segment_frame(frame.set(), 2, 2, model, labels.data(), 2, 0.005f, match.data());

  EXPECT_EQ(labels, (std::vector<unsigned char>{0, 85, 255, 42}));
  EXPECT_EQ(match, (std::vector<int>{1, 1, -1, 77}));

  colour_mode = saved_mode;
  use_shadow_test = saved_shadow;
  search_mask = saved_mask;
}

}  // namespace
