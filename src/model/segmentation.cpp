#include "model/segmentation.h"

#include <algorithm>
#include <cstddef>

#include "core/settings.h"
#include "model/best_match.h"

namespace strellix {

namespace {

unsigned char label_for_match(int result) {
  if (result == MATCH_FOUND) return LABEL_BACKGROUND;
  if (result == MATCH_SHADOW) return LABEL_SHADOW;
  return LABEL_FOREGROUND;
}

// One band of the filter: the pixels it judges (inclusive ranges), the
// offsets of the cells counted around each of them, and the count that a
// pixel must exceed to be called background-like.
struct FilterRegion {
  int row_first, row_last;
  int col_first, col_last;
  int dr_first, dr_last;
  int dc_first, dc_last;
  int threshold;
};

// True when the region has pixels and every cell it counts lies inside the
// image. Frames under four rows or columns would otherwise send the edge
// bands past the buffer, so such bands are simply not run.
bool region_fits(const FilterRegion& g, int H, int W) {
  if (g.row_first > g.row_last || g.col_first > g.col_last) return false;
  return g.row_first + g.dr_first >= 0 && g.row_last + g.dr_last < H && g.col_first + g.dc_first >= 0 &&
         g.col_last + g.dc_last < W;
}

int count_background_like(const unsigned char* in, int W, int row, int col, const FilterRegion& g) {
  int count = 0;
  for (int dr = g.dr_first; dr <= g.dr_last; ++dr) {
    const unsigned char* line = in + static_cast<std::size_t>(row + dr) * W;
    for (int dc = g.dc_first; dc <= g.dc_last; ++dc) {
      if (line[col + dc] < LABEL_FILTERED_FOREGROUND) ++count;
    }
  }
  return count;
}

// Rows [row_first, row_last] of region g (within the region's own rows),
// each written through out_row(row).
template <class OutRow>
void filter_region_rows(const unsigned char* search_mask, const FilterRegion& g, int W,
                        const unsigned char* in, int row_first, int row_last, OutRow out_row) {
  for (int row = std::max(row_first, g.row_first); row <= std::min(row_last, g.row_last); ++row) {
    unsigned char* out = out_row(row);
    const unsigned char* mask = search_mask + static_cast<std::size_t>(row) * W;
    const unsigned char* labels = in + static_cast<std::size_t>(row) * W;
    for (int col = g.col_first; col <= g.col_last; ++col) {
      if (mask[col] == 0) continue;
      out[col] = coherence_label(count_background_like(in, W, row, col, g), g.threshold, labels[col]);
    }
  }
}

void filter_region(const unsigned char* search_mask, const FilterRegion& g, int W, const unsigned char* in,
                   unsigned char* out) {
  filter_region_rows(search_mask, g, W, in, g.row_first, g.row_last,
                     [&](int row) { return out + static_cast<std::size_t>(row) * W; });
}

// The bands along the edges and the corner blocks, in the order the filter
// takes them.
template <class Each>
void for_each_edge_region(int H, int W, Each each) {
  const FilterRegion regions[] = {
      {1, 1, 2, W - 3, -1, 2, -2, 2, 9},              // second row
      {0, 0, 2, W - 3, 0, 2, -2, 2, 6},               // first row
      {H - 2, H - 2, 2, W - 3, -2, 1, -2, 2, 9},      // second-last row
      {H - 1, H - 1, 2, W - 3, -2, 0, -2, 2, 6},      // last row
      {2, H - 3, 1, 1, -2, 2, -1, 2, 9},              // second column
      {2, H - 3, 0, 0, -2, 2, 0, 2, 6},               // first column
      {2, H - 3, W - 2, W - 2, -2, 2, -2, 1, 9},      // second-last column
      {2, H - 3, W - 1, W - 1, -2, 2, -2, 0, 6},      // last column
      {0, 0, 0, 0, 0, 1, 0, 1, 1},                    // top-left corner
      {0, 0, W - 1, W - 1, 0, 1, -1, 0, 1},           // top-right corner
      {H - 1, H - 1, 0, 0, -1, 0, 0, 1, 1},           // bottom-left corner
      {H - 1, H - 1, W - 1, W - 1, -1, 0, -1, 0, 1},  // bottom-right corner
  };
  for (const FilterRegion& g : regions)
    if (region_fits(g, H, W)) each(g);
}

}  // namespace

void segment_frame(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                   const LabelView& labels, float threshold) {
  if (frame.height <= 0 || frame.width <= 0) return;
  const std::size_t pixel_count = frame.pixels();
  const PlaneSet<float> frame_planes = frame.planes;
  int* match_index = labels.match_index;
  for (std::size_t p = 0; p < pixel_count; ++p) {
    if (s.search_mask[p] == 0) continue;
    const int result =
        find_best_match(s, frame_planes[0][p], frame_planes[1][p], frame_planes[2][p], model.layers,
                        static_cast<int>(p), model.count, threshold, match_index[p]);
    labels.segmented[p] = label_for_match(result);
  }
}

unsigned char coherence_label(int count, int threshold, unsigned char label) {
  if (count > threshold) {
    return label == LABEL_FOREGROUND ? LABEL_FILTERED_FOREGROUND : label;
  }
  return label == LABEL_SHADOW ? LABEL_SHADOW : LABEL_FOREGROUND;
}

void coherence_filter(const ModelSettings& s, int H, int W, const unsigned char* in, unsigned char* out) {
  // Interior first, then the two-pixel bands along each edge and the 2x2
  // corner blocks. The pixels beside each corner that belong to no band
  // keep whatever `out` held.
  const FilterRegion interior = {2, H - 3, 2, W - 3, -2, 2, -2, 2, 12};
  if (region_fits(interior, H, W)) filter_region(s.search_mask, interior, W, in, out);
  coherence_filter_edges(s, H, W, in, out);
}

void coherence_filter_edges(const ModelSettings& s, int H, int W, const unsigned char* in,
                            unsigned char* out) {
  for_each_edge_region(H, W, [&](const FilterRegion& g) { filter_region(s.search_mask, g, W, in, out); });
}

void coherence_filter_edges_row(const ModelSettings& s, int H, int W, const unsigned char* in,
                                unsigned char* out_row, int x) {
  for_each_edge_region(H, W, [&](const FilterRegion& g) {
    filter_region_rows(s.search_mask, g, W, in, x, x, [&](int) { return out_row; });
  });
}

}  // namespace strellix
