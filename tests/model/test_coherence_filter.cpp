#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/settings.h"
#include "model/segmentation.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

using Labels = std::vector<unsigned char>;

Labels run_filter(const TestSettings& area, int H, int W, const Labels& in, unsigned char prefill = 123) {
  Labels out(in.size(), prefill);
  coherence_filter(area.s, H, W, in.data(), out.data());
  return out;
}

struct Neighbourhood {
  const char* name;
  int row, col;  // negative: counted from the bottom or right edge
  int dr_first, dr_last, dc_first, dc_last;
  int threshold;
};

// Inside a 9x11 frame, one pixel of every region with the cells it counts.
const Neighbourhood kRegions[] = {
    {"interior", 4, 5, -2, 2, -2, 2, 12},      {"second row", 1, 5, -1, 2, -2, 2, 9},
    {"first row", 0, 2, 0, 2, -2, 2, 6},       {"second-last row", -2, 5, -2, 1, -2, 2, 9},
    {"last row", -1, -3, -2, 0, -2, 2, 6},     {"second column", 4, 1, -2, 2, -1, 2, 9},
    {"first column", 2, 0, -2, 2, 0, 2, 6},    {"second-last column", 4, -2, -2, 2, -2, 1, 9},
    {"last column", -3, -1, -2, 2, -2, 0, 6},  {"top-left", 0, 0, 0, 1, 0, 1, 1},
    {"top-right", 0, -1, 0, 1, -1, 0, 1},      {"bottom-left", -1, 0, -1, 0, 0, 1, 1},
    {"bottom-right", -1, -1, -1, 0, -1, 0, 1},
};

// Everything outside the counted cells is background, so a window that
// reaches too far counts too much; among the counted cells the background
// ones are placed farthest from the pixel first, so a window that is too
// small counts too little.
Labels frame_with_count(int H, int W, int row, int col, const Neighbourhood& g, unsigned char centre,
                        int others) {
  Labels in(static_cast<std::size_t>(H) * W, LABEL_BACKGROUND);
  std::vector<std::pair<int, int>> cells;
  for (int dr = g.dr_first; dr <= g.dr_last; ++dr)
    for (int dc = g.dc_first; dc <= g.dc_last; ++dc) {
      in[(row + dr) * W + col + dc] = LABEL_FOREGROUND;
      if (dr != 0 || dc != 0) cells.push_back({dr, dc});
    }
  std::stable_sort(cells.begin(), cells.end(), [](auto a, auto b) {
    return std::max(std::abs(a.first), std::abs(a.second)) > std::max(std::abs(b.first), std::abs(b.second));
  });
  for (int i = 0; i < others; ++i) in[(row + cells[i].first) * W + col + cells[i].second] = 0;
  in[row * W + col] = centre;
  return in;
}

TEST(CoherenceLabel, FollowsCountAgainstThreshold) {
  const unsigned char labels[] = {0, 85, 170, 255, 7};
  const unsigned char above[] = {0, 85, 170, 170, 7};
  const unsigned char at_or_below[] = {255, 85, 255, 255, 255};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(coherence_label(13, 12, labels[i]), above[i]) << int(labels[i]);
    EXPECT_EQ(coherence_label(12, 12, labels[i]), at_or_below[i]) << int(labels[i]);
  }
}

// Each region's threshold, approached from both sides, for a foreground
// pixel (not counted itself) and a background pixel (counted itself).
TEST(CoherenceFilter, EveryRegionCountsItsOwnCellsAgainstItsThreshold) {
  const int H = 9, W = 11;
  TestSettings area(H * W);
  for (const Neighbourhood& g : kRegions) {
    const int row = g.row < 0 ? H + g.row : g.row, col = g.col < 0 ? W + g.col : g.col;
    const int p = row * W + col, T = g.threshold;
    SCOPED_TRACE(g.name);
    EXPECT_EQ(run_filter(area, H, W, frame_with_count(H, W, row, col, g, 255, T))[p], 255);
    EXPECT_EQ(run_filter(area, H, W, frame_with_count(H, W, row, col, g, 255, T + 1))[p], 170);
    EXPECT_EQ(run_filter(area, H, W, frame_with_count(H, W, row, col, g, 0, T - 1))[p], 255);
    EXPECT_EQ(run_filter(area, H, W, frame_with_count(H, W, row, col, g, 0, T))[p], 0);
  }
}

TEST(CoherenceFilter, ShadowPassesAndFilteredForegroundIsNotBackground) {
  const int H = 5, W = 5, p = 12;
  TestSettings area(H * W);
  Labels in(H * W, 255);
  in[p] = 85;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 85);
  std::fill(in.begin(), in.end(), 0);
  in[p] = 85;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 85);

  // 85 neighbours count as background-like, 170 neighbours do not.
  std::fill(in.begin(), in.end(), 85);
  in[p] = 255;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 170);
  std::fill(in.begin(), in.end(), 170);
  in[p] = 255;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 255);
  in[p] = 170;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 255);
}

TEST(CoherenceFilter, OutsideSearchAreaIsCountedButNotWritten) {
  const int H = 5, W = 5, p = 12;
  TestSettings area(H * W);
  Labels in(H * W, 255);
  for (int i = 0; i < 13; ++i) in[i] = 0;  // 13 background cells, p is the 13th
  area.mask(p) = 0;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 123);
  in[p] = 255;
  area.mask(p) = 255;
  area.mask(0) = 0;  // still counted: 12 background cells, so p stays 255
  EXPECT_EQ(run_filter(area, H, W, in)[p], 255);
  in[13] = 0;
  EXPECT_EQ(run_filter(area, H, W, in)[p], 170);
}

// Which pixels a filter call writes: with all-background input every
// written pixel becomes 0 and every other keeps the prefill.
std::vector<int> written(int H, int W) {
  TestSettings area(H * W);
  const Labels out = run_filter(area, H, W, Labels(static_cast<std::size_t>(H) * W, 0));
  std::vector<int> rows_cols;
  for (int p = 0; p < H * W; ++p)
    if (out[p] != 123) rows_cols.push_back(p);
  return rows_cols;
}

std::vector<int> all_but(int H, int W, std::vector<std::pair<int, int>> skipped) {
  std::vector<int> pixels;
  for (int p = 0; p < H * W; ++p)
    if (std::find(skipped.begin(), skipped.end(), std::make_pair(p / W, p % W)) == skipped.end())
      pixels.push_back(p);
  return pixels;
}

TEST(CoherenceFilter, OnlyTheTwelvePixelsBesideTheCornersKeepTheirOldContent) {
  for (auto [H, W] : {std::pair{5, 5}, {6, 8}, {9, 11}, {4, 9}, {9, 4}, {4, 4}}) {
    SCOPED_TRACE(testing::Message() << H << "x" << W);
    EXPECT_EQ(written(H, W), all_but(H, W,
                                     {{0, 1},
                                      {1, 0},
                                      {1, 1},
                                      {0, W - 2},
                                      {1, W - 2},
                                      {1, W - 1},
                                      {H - 2, 0},
                                      {H - 2, 1},
                                      {H - 1, 1},
                                      {H - 2, W - 2},
                                      {H - 2, W - 1},
                                      {H - 1, W - 2}}));
  }
}

// Under four rows or columns only the bands whose cells stay inside the
// frame run. Run under AddressSanitizer this also shows that nothing
// outside the label buffers is read.
TEST(CoherenceFilter, FramesUnderFourRowsOrColumnsRunOnlyBandsThatFit) {
  EXPECT_EQ(written(1, 1), std::vector<int>{});
  EXPECT_EQ(written(1, 5), std::vector<int>{});
  EXPECT_EQ(written(5, 1), std::vector<int>{});
  EXPECT_EQ(written(0, 5), std::vector<int>{});
  EXPECT_EQ(written(2, 2), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(written(2, 3), (std::vector<int>{0, 2, 3, 5}));
  EXPECT_EQ(written(3, 3), (std::vector<int>{0, 2, 6, 8}));
  // 3x7: first and last row bands and the corners.
  EXPECT_EQ(written(3, 7), (std::vector<int>{0, 2, 3, 4, 6, 14, 16, 17, 18, 20}));
  // 7x3: first and last column bands and the corners.
  EXPECT_EQ(written(7, 3), (std::vector<int>{0, 2, 6, 8, 9, 11, 12, 14, 18, 20}));
}

}  // namespace
