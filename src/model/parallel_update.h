// What the parallel selective update shares with the fused online pass
// (model/parallel_selective_update.cpp, model/fused_online_pass.cpp): the
// tables of one update call, the view its threads take of it, and the
// steps the fused pass runs row by row.
#pragma once

#include <cstddef>
#include <vector>

#include "core/pass_views.h"
#include "core/settings.h"

namespace strellix::parallel_update {

// One blend of the 1D update: the layer and its weights.
struct OneDStep {
  int layer;
  double w, keep;
};

// Per-call tables: the window rows and columns of every centre, cut to the
// image exactly as update_neighbourhood_2d cuts them, the 2D weights and
// their complements in double, the layer each pixel teaches (-1 when it
// does not learn), the planes of every layer and the 1D blends.
struct UpdatePlan {
  std::vector<int> row_first, row_end, col_first, col_end;
  std::vector<double> weight, keep;  // width_2d x width_2d
  std::vector<int> layer;
  std::vector<float*> planes;  // layer j, component k at 3j+k
  // The 1D blends around layer m: one_d_steps[one_d_first[m] .. one_d_first[m+1]).
  std::vector<OneDStep> one_d_steps;
  std::vector<int> one_d_first;
  // The same blends, each layer's padded to one_d_width steps with blends
  // into the spare layer layer_count (which stands for "none"): rows
  // 0 .. layer_count, one_d_width steps each.
  std::vector<OneDStep> one_d_padded;
  int one_d_width = 0;
  // Where the filtered labels and the taught layers of each row are.
  std::vector<const unsigned char*> label_rows;
  std::vector<const int*> layer_rows;
};

// One update call, as its threads see it. The labels and taught layers of
// row y are at label_rows[y] and layer_rows[y]: the frame's own buffers, or
// a thread's private copy of rows that another thread is still working on.
struct Pass {
  const PlaneSet<float> frame;
  int H, W;
  const unsigned char* const* label_rows;
  const int* const* layer_rows;
  int width_2d;
  int start_row;
  const UpdatePlan* plan;
  unsigned long long number;  // tells one call from the next
  const int* match_index;
  const ModelSettings* settings;
};

// The largest window half-width the packed path takes.
constexpr int INNER_MAX_HALF = 4;

// The taught layers of row `row` into layer_row: all columns, or with
// edge > 0 only the `edge` columns at either side (the packed path works
// out the others itself).
void learning_layer_row(const ModelSettings& settings, const unsigned char* label_row, const int* match_index,
                        int W, int start_row, int row, int edge, int* layer_row);

// Targets of rows [row_begin, row_end), each written by the calling thread
// alone.
void update_rows(const Pass& s, int row_begin, int row_end);

// Whether the packed path takes the columns of targets whose centres'
// windows are all uncut at the sides, [2 hw, W - 2 hw).
bool packed_path(int width_2d, int W, int layer_count);

// The tables of one update call that do not depend on the labels: the 1D
// blends, the planes of every layer, the window bounds and the weights.
void prepare_plan(const ModelSettings& settings, const ModelView& model, int H, int W, UpdatePlan& plan);

// Row tables pointing every row at the frame's own labels and at the
// plan's taught layers.
void point_rows_at(const unsigned char* labels, int H, int W, UpdatePlan& plan);

// Tells one update call from the next, for the rows threads keep: a
// sequence number, the same for no two calls of the process.
unsigned long long next_pass_number();

// The calling thread's plan, kept between calls so that a frame allocates
// nothing; the workers see it through the pass.
UpdatePlan& thread_plan();

}  // namespace strellix::parallel_update
