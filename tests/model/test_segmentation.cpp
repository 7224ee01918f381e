#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/settings.h"
#include "model/segmentation.h"
#include "support/owned_planes.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

using Colour = std::array<float, 3>;

// One layer per list, one colour per pixel.
OwnedModel layers_of(const std::vector<std::vector<Colour>>& layers) {
  OwnedModel model(static_cast<int>(layers.size()), layers[0].size());
  for (int j = 0; j < model.n; ++j)
    for (std::size_t p = 0; p < model.pixels; ++p)
      model.set(j, p, layers[j][p][0], layers[j][p][1], layers[j][p][2]);
  return model;
}

// Hue 0, saturation 0.5, value 0.8 in cone coordinates, and its opposite
// and quarter-turn hues.
const Colour kRed = {0.4f, 0.0f, 0.8f};
const Colour kCyan = {-0.4f, 0.0f, 0.8f};
const Colour kGreenish = {0.0f, 0.4f, 0.8f};
const Colour kDarkRed = {0.32f, 0.0f, 0.64f};  // kRed at 0.8 of its value

TEST(SegmentFrame, LabelsMatchShadowAndForegroundWithTheirLayers) {
  // Pixels: matches layer 1; a shadow of layer 1 (layer 0 has the
  // opposite hue and fails); unlike either layer; outside the search area.
  OwnedModel frame = layers_of({{kRed, kDarkRed, kGreenish, kRed}});
  OwnedModel model = layers_of({{kCyan, kCyan, kCyan, kCyan}, {kRed, kRed, kRed, kRed}});
  TestSettings settings(4);
  settings.mask(3) = 0;
  std::vector<unsigned char> labels(4, 42);
  std::vector<int> match(4, 77);

  segment_frame(settings.s, FrameView{frame.layer(0), 2, 2}, ModelView{model.get(), 2},
                LabelView{labels.data(), nullptr, match.data()}, 0.005f);

  EXPECT_EQ(labels, (std::vector<unsigned char>{0, 85, 255, 42}));
  EXPECT_EQ(match, (std::vector<int>{1, 1, -1, 77}));
}

}  // namespace
