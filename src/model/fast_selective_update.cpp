#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "model/fast_passes.h"
#include "model/settings.h"
#include "model/vector_width.h"
#include "model/worker_pool.h"

namespace strellix {

// Matching is finished before the update starts, so the blends that reach a
// pixel depend only on this frame's labels, layers and frame values. Each
// target pixel can therefore replay, on its own, the blends that the centres
// around it make in raster order, with the 1D update of its own centre at
// its place in that order. Targets are then independent and each is written
// by one thread only, with the same sequence of roundings as the plain pass.
//
// A target's blends form one long chain of dependent roundings, so targets
// are interleaved: inside the image, all targets of a piece of a row take
// their blend from one centre offset before any takes the next, which keeps
// every target's own order and lets the processor overlap the chains.

namespace {

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

// What one band of the fused pass keeps for itself: its own row tables,
// the filtered labels and taught layers of the first rows of the band
// below (worked out privately, while that band's thread works on them),
// and the filter's column sums.
struct BandScratch {
  std::vector<const unsigned char*> label_rows;
  std::vector<const int*> layer_rows;
  std::vector<unsigned char> halo_labels;
  std::vector<int> halo_layers;
  std::vector<unsigned char> column_sums;
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

void window_bounds(int extent, int width, std::vector<int>& first, std::vector<int>& end) {
  const int hw = width / 2;
  first.resize(extent);
  end.resize(extent);
  for (int y = 0; y < extent; ++y) {
    first[y] = std::max(0, y - hw);
    end[y] = std::min({extent, y + hw + 1, first[y] + width});
  }
}

// One blend of the frame value at p into a layer at q, in the arithmetic of
// update_neighbourhood_2d and update_layers_1d. Every load comes before the
// first store: the planes are separate allocations whose addresses tend to
// agree in their low bits, and a load behind a store to such an address
// waits for it.
inline void blend_at(float* const* layer, std::size_t q, const PlaneSet<float> frame, std::size_t p, double w,
                     double keep) {
  float* const l0 = layer[0];
  float* const l1 = layer[1];
  float* const l2 = layer[2];
  const double v0 = frame[0][p], v1 = frame[1][p], v2 = frame[2][p];
  const double o0 = l0[q], o1 = l1[q], o2 = l2[q];
  const float n0 = static_cast<float>(w * v0 + keep * o0);
  const float n1 = static_cast<float>(w * v1 + keep * o1);
  const float n2 = static_cast<float>(w * v2 + keep * o2);
  l0[q] = n0;
  l1[q] = n1;
  l2[q] = n2;
}

// The blends of the 1D update around each layer m, as update_layers_1d
// makes them.
void plan_one_d(const ModelSettings& settings, UpdatePlan& plan) {
  const int layer_count = settings.layer_count;
  const int width_1d = settings.width_1d;
  plan.one_d_steps.clear();
  plan.one_d_first.assign(1, 0);
  for (int m = 0; m < layer_count; ++m) {
    if (width_1d >= 1) {
      const int hw = width_1d / 2;
      const int lo = std::max(0, m - hw);
      const int hi = std::min({layer_count, m + hw + 1, lo + width_1d});
      for (int j = lo; j < hi; ++j) {
        if (j == m) continue;
        const double w =
            static_cast<double>(settings.learning_rate) * static_cast<double>(settings.kernel_1d[j - lo]);
        plan.one_d_steps.push_back({j, w, 1.0 - w});
      }
    }
    plan.one_d_first.push_back(static_cast<int>(plan.one_d_steps.size()));
  }
  plan.one_d_width = 0;
  for (int m = 0; m < layer_count; ++m)
    plan.one_d_width = std::max(plan.one_d_width, plan.one_d_first[m + 1] - plan.one_d_first[m]);
  const OneDStep spare = {layer_count, 0.0, 1.0};
  plan.one_d_padded.assign(static_cast<std::size_t>(layer_count + 1) * plan.one_d_width, spare);
  for (int m = 0; m < layer_count; ++m)
    std::copy(plan.one_d_steps.begin() + plan.one_d_first[m],
              plan.one_d_steps.begin() + plan.one_d_first[m + 1],
              plan.one_d_padded.begin() + static_cast<std::ptrdiff_t>(m) * plan.one_d_width);
}

void update_other_layers(const Pass& s, std::size_t q, int m) {
  const UpdatePlan& plan = *s.plan;
  for (int i = plan.one_d_first[m]; i < plan.one_d_first[m + 1]; ++i) {
    const OneDStep& step = plan.one_d_steps[i];
    blend_at(&plan.planes[3 * static_cast<std::size_t>(step.layer)], q, s.frame, q, step.w, step.keep);
  }
}

// The layer that pixel x of the row starting at row_at, in a row from
// start_row on, teaches; -1 when it does not learn.
inline int taught_layer(const ModelSettings& settings, const unsigned char* label_row, const int* match_index,
                        std::size_t row_at, int x) {
  const std::size_t p = row_at + x;
  const int m = match_index[p];
  // Bitwise, not short-circuit: no branch to mispredict.
  const bool learns = (settings.search_mask[p] != 0) & (label_row[x] == LABEL_BACKGROUND) & (m >= 0) &
                      (m < settings.layer_count);
  return learns ? m : -1;
}

// The taught layers of row `row` into layer_row: all columns, or with
// edge > 0 only the `edge` columns at either side (the packed path works
// out the others itself).
void learning_layer_row(const ModelSettings& settings, const unsigned char* label_row, const int* match_index,
                        int W, int start_row, int row, int edge, int* layer_row) {
  const bool sides_only = edge > 0 && 2 * edge < W;
  const std::size_t row_at = static_cast<std::size_t>(row) * W;
  for (int col = 0; col < W; ++col) {
    if (sides_only && col == edge) col = W - edge;
    layer_row[col] = row >= start_row ? taught_layer(settings, label_row, match_index, row_at, col) : -1;
  }
}

// Any target: the centres around it one by one, each window cut as the
// plain update cuts it.
void update_target(const Pass& s, int qr, int qc) {
  const UpdatePlan& plan = *s.plan;
  const std::size_t q = static_cast<std::size_t>(qr) * s.W + qc;
  if (s.label_rows[qr][qc] != LABEL_BACKGROUND) return;
  const int hw = s.width_2d / 2;
  const int y_last = std::min(s.H - 1, qr + hw);
  const int x_first = std::max(0, qc - hw);
  const int x_last = std::min(s.W - 1, qc + hw);
  for (int y = std::max(s.start_row, qr - hw); y <= y_last; ++y) {
    if (qr < plan.row_first[y] || qr >= plan.row_end[y]) continue;
    const std::size_t weight_row = static_cast<std::size_t>(qr - plan.row_first[y]) * s.width_2d;
    const std::size_t centre_row = static_cast<std::size_t>(y) * s.W;
    const int* layer_row = s.layer_rows[y];
    for (int x = x_first; x <= x_last; ++x) {
      const std::size_t p = centre_row + x;
      const int m = layer_row[x];
      if (m < 0) continue;
      if (qc >= plan.col_first[x] && qc < plan.col_end[x]) {
        const std::size_t wi = weight_row + (qc - plan.col_first[x]);
        blend_at(&plan.planes[3 * static_cast<std::size_t>(m)], q, s.frame, p, plan.weight[wi],
                 plan.keep[wi]);
      }
      if (p == q) update_other_layers(s, q, m);
    }
  }
}

// Targets per piece of a row in the interleaved path, its largest window
// half-width and layer count (one more slot is the spare layer).
constexpr int PIECE = 32;
constexpr int INNER_MAX_HALF = 4;
constexpr int INNER_MAX_LAYERS = 15;

// The piece's packed layer values, (x, y, z, 0) per layer and target,
// with a spare layer after the last, and its background targets. Blends of
// a centre that teaches nothing go to the spare layer, whose values are
// never used: the loops then need no branch that depends on the labels.
struct PackedPiece {
  alignas(32) float cell[INNER_MAX_LAYERS + 1][PIECE][4];
  int target[PIECE];
};

// The centre rows a thread's targets need, each made once and kept while
// the thread works down its rows: the frame values as (x, y, z, 0) in
// double, the layer each pixel teaches (the spare one, layer_count, where
// it teaches none), and how many pixels before each column teach one.
constexpr int RING_ROWS = 2 * INNER_MAX_HALF + 1;

struct RowRing {
  unsigned long long pass = 0;  // the update call the rows belong to
  int width = 0;
  int row[RING_ROWS];                    // image row held in each slot, -1 for none
  std::vector<double> value[RING_ROWS];  // 4 * width used, from a 32-byte boundary
  std::vector<int> layer[RING_ROWS];
  std::vector<int> teaching_before[RING_ROWS];  // width + 1 counts
};

}  // namespace

#if defined(__SSE2__)
#define HAVE_PACKED_SPAN 1
#if defined(__GNUC__) && !defined(__AVX2__)
#define HAVE_WIDE_SPAN 1
STRELLIX_BEGIN_AVX2
namespace span_wide {
#define SPAN_WIDE 1
#include "model/fast_update_span.inc"
#undef SPAN_WIDE
}  // namespace span_wide
STRELLIX_END_AVX2
#endif
namespace span_base {
#define SPAN_WIDE 0
#include "model/fast_update_span.inc"
#undef SPAN_WIDE
}  // namespace span_base
#endif

namespace {

// The centre rows of the calling thread, kept between frames so that no
// frame allocates; looked up once for a whole piece of rows (in
// position-independent code every lookup of a thread-local object is a
// call).
__attribute__((noinline)) RowRing& thread_row_ring() {
  thread_local RowRing ring;
  return ring;
}

// Inner spans in packed vectors where the processor has them, else target
// by target.
void update_inner_span(const Pass& s, int qr, int c_begin, int c_end, RowRing& ring) {
#ifdef HAVE_PACKED_SPAN
#ifdef HAVE_WIDE_SPAN
  if (use_wide_build(s.settings->run)) {
    span_wide::update_inner_span(s, qr, c_begin, c_end, ring);
    return;
  }
#endif
  span_base::update_inner_span(s, qr, c_begin, c_end, ring);
#else
  (void)s;
  (void)qr;
  (void)c_begin;
  (void)c_end;
  (void)ring;
#endif
}

// Whether the packed path takes the columns of targets whose centres'
// windows are all uncut at the sides, [2 hw, W - 2 hw).
bool packed_path(int width_2d, int W, int layer_count) {
#ifdef HAVE_PACKED_SPAN
  const int hw = width_2d / 2;
  return width_2d % 2 == 1 && hw <= INNER_MAX_HALF && layer_count <= INNER_MAX_LAYERS && 4 * hw < W;
#else
  (void)width_2d;
  (void)W;
  (void)layer_count;
  return false;
#endif
}

void update_rows(const Pass& s, int row_begin, int row_end) {
  if (row_begin >= row_end) return;
  const int hw = s.width_2d / 2;
  const int inner_first = 2 * hw;
  const int inner_col_end = s.W - 2 * hw;
  const bool packed = packed_path(s.width_2d, s.W, s.settings->layer_count);
  RowRing& ring = thread_row_ring();
  for (int qr = row_begin; qr < row_end; ++qr) {
    if (!packed) {
      for (int qc = 0; qc < s.W; ++qc) update_target(s, qr, qc);
      continue;
    }
    for (int qc = 0; qc < inner_first; ++qc) update_target(s, qr, qc);
    update_inner_span(s, qr, inner_first, inner_col_end, ring);
    for (int qc = inner_col_end; qc < s.W; ++qc) update_target(s, qr, qc);
  }
}

// The tables of one update call that do not depend on the labels: the 1D
// blends, the planes of every layer, the window bounds and the weights.
void prepare_plan(const ModelSettings& settings, PlaneSet<float>* bg_model,
                  const PlaneSet<float> rate_kernel_2d, int H, int W, int width_2d, UpdatePlan& plan) {
  const int layer_count = settings.layer_count;
  plan.layer.resize(static_cast<std::size_t>(H) * W);
  plan.planes.resize(3 * static_cast<std::size_t>(layer_count > 0 ? layer_count : 0));
  for (int j = 0; j < layer_count; ++j)
    for (int k = 0; k < 3; ++k) plan.planes[3 * static_cast<std::size_t>(j) + k] = bg_model[j][k];
  plan_one_d(settings, plan);
  if (width_2d < 1) return;
  window_bounds(H, width_2d, plan.row_first, plan.row_end);
  window_bounds(W, width_2d, plan.col_first, plan.col_end);
  const std::size_t cells = static_cast<std::size_t>(width_2d) * width_2d;
  plan.weight.resize(cells);
  plan.keep.resize(cells);
  for (int r = 0; r < width_2d; ++r) {
    for (int c = 0; c < width_2d; ++c) {
      const double w = static_cast<double>(rate_kernel_2d[r][c]);
      plan.weight[static_cast<std::size_t>(r) * width_2d + c] = w;
      plan.keep[static_cast<std::size_t>(r) * width_2d + c] = 1.0 - w;
    }
  }
}

// Row tables pointing every row at the frame's own labels and at the
// plan's taught layers.
void point_rows_at(const unsigned char* labels, int H, int W, UpdatePlan& plan) {
  plan.label_rows.resize(static_cast<std::size_t>(H));
  plan.layer_rows.resize(static_cast<std::size_t>(H));
  for (int y = 0; y < H; ++y) {
    plan.label_rows[static_cast<std::size_t>(y)] = labels + static_cast<std::size_t>(y) * W;
    plan.layer_rows[static_cast<std::size_t>(y)] = plan.layer.data() + static_cast<std::size_t>(y) * W;
  }
}

// Tells one update call from the next, for the rows threads keep.
unsigned long long next_pass_number() {
  static std::atomic<unsigned long long> calls{0};
  return ++calls;
}

// Kept between calls, so that a frame allocates nothing; the workers see
// the calling thread's tables through the pass.
__attribute__((noinline)) UpdatePlan& thread_plan() {
  thread_local UpdatePlan plan;
  return plan;
}

}  // namespace

void selective_update_fast(const ModelSettings& settings, const PlaneSet<float> frame_planes, int H, int W,
                           PlaneSet<float>* bg_model, const unsigned char* filtered_mask,
                           const PlaneSet<float> rate_kernel_2d, int width_2d, const int* match_index) {
  const int start_row = settings.first_search_row < 0 ? 0 : settings.first_search_row;
  WorkerPool* const workers = settings.run.workers;
  if (start_row >= H || W <= 0) return;
  UpdatePlan& plan = thread_plan();
  prepare_plan(settings, bg_model, rate_kernel_2d, H, W, width_2d, plan);
  point_rows_at(filtered_mask, H, W, plan);
  int* layer = plan.layer.data();
  const int edge = packed_path(width_2d, W, settings.layer_count) ? 3 * (width_2d / 2) : 0;
  run_split(workers, H, 16, [&](int begin, int end) {
    for (int row = begin; row < end; ++row)
      learning_layer_row(settings, plan.label_rows[static_cast<std::size_t>(row)], match_index, W, start_row,
                         row, edge, layer + static_cast<std::size_t>(row) * W);
  });
  const Pass pass = {frame_planes,           H,           W,         plan.label_rows.data(),
                     plan.layer_rows.data(), width_2d,    start_row, &plan,
                     next_pass_number(),     match_index, &settings};
  if (width_2d < 1) {
    // No window: only the 1D updates, each at its own pixel.
    run_split(workers, H, 16, [&](int begin, int end) {
      for (std::size_t q = static_cast<std::size_t>(begin) * W; q < static_cast<std::size_t>(end) * W; ++q)
        if (layer[q] >= 0) update_other_layers(pass, q, layer[q]);
    });
    return;
  }
  run_split(workers, H, 8, [&](int begin, int end) { update_rows(pass, begin, end); });
}

namespace {

// The bands of the fused pass: one per thread, each at least this many
// times the rows a band waits for at its top, so that the band below's
// first rows stay inside the image's interior rows.
constexpr int BAND_PER_HEAD = 3;

struct Band {
  int begin, end;
};

// Rows of one fused pass, and what its steps share.
struct FusedPass {
  const ModelSettings* settings;
  PlaneSet<float> frame;
  int H, W, n, width_2d, start_row, edge;
  PlaneSet<float>* bg_model;
  unsigned char* seg_mask;
  unsigned char* filtered_mask;
  int* match_index;
  float threshold;
  UpdatePlan* plan;
  unsigned long long number;
  std::vector<Band> bands;
  std::vector<BandScratch>* scratch;
  int head;  // rows at the top of a band that the band above needs segmented: hw + 2
};

Pass band_pass(const FusedPass& f, const BandScratch& own) {
  return Pass{f.frame,
              f.H,
              f.W,
              own.label_rows.data(),
              own.layer_rows.data(),
              f.width_2d,
              f.start_row,
              f.plan,
              f.number,
              f.match_index,
              f.settings};
}

void filter_and_teach_row(const FusedPass& f, int x, unsigned char* label_row, int* layer_row,
                          unsigned char* column_sums) {
  coherence_filter_row_fast(*f.settings, f.H, f.W, f.seg_mask, label_row, x, column_sums);
  learning_layer_row(*f.settings, label_row, f.match_index, f.W, f.start_row, x, f.edge, layer_row);
}

unsigned char* shared_label_row(const FusedPass& f, int y) {
  return f.filtered_mask + static_cast<std::size_t>(y) * f.W;
}

int* shared_layer_row(const FusedPass& f, int y) {
  return f.plan->layer.data() + static_cast<std::size_t>(y) * f.W;
}

// The rows at the top of band k that the band above needs before it can
// finish: segmented first, before any band changes the model.
void segment_head(const FusedPass& f, int k) {
  const Band b = f.bands[static_cast<std::size_t>(k)];
  segment_rows_fast(*f.settings, f.frame, f.W, f.bg_model, f.seg_mask, f.n, f.threshold, f.match_index,
                    b.begin, std::min(b.end, b.begin + f.head));
}

// Band k from below its head to its end, row by row: segment a row, filter
// the row two above it, update the targets hw rows above that, so that the
// model rows of a few neighbouring rows are read from memory once. The
// targets of the band's head wait for the third step; the band's last
// targets read the band below's first filtered rows from a private copy.
void run_band(const FusedPass& f, int k) {
  const Band b = f.bands[static_cast<std::size_t>(k)];
  BandScratch& own = (*f.scratch)[static_cast<std::size_t>(k)];
  const int hw = f.width_2d / 2;
  const Pass pass = band_pass(f, own);
  int next_filter = b.begin + 2;
  int next_target = b.begin + f.head;
  // Row x is filtered from rows x-2 to x+2, cut to the image.
  auto filter_ready = [&](int seg_done) {  // rows below seg_done are segmented
    for (; next_filter < b.end && std::min(next_filter + 2, f.H - 1) < seg_done; ++next_filter)
      filter_and_teach_row(f, next_filter, shared_label_row(f, next_filter), shared_layer_row(f, next_filter),
                           own.column_sums.data());
  };
  // Target q blends from centres in rows q-hw to q+hw, cut to the image.
  auto update_ready = [&](int filter_done) {  // rows below filter_done are filtered
    const int last = filter_done >= f.H ? b.end : std::min(b.end, filter_done - hw);
    if (next_target < last) update_rows(pass, next_target, last);
    next_target = std::max(next_target, last);
  };
  for (int r = b.begin + f.head; r < b.end; ++r) {
    segment_rows_fast(*f.settings, f.frame, f.W, f.bg_model, f.seg_mask, f.n, f.threshold, f.match_index, r,
                      r + 1);
    filter_ready(r + 1);
    update_ready(next_filter);
  }
  // The band below has segmented its head, so the last rows can be filtered.
  filter_ready(std::min(f.H, b.end + f.head));
  for (int i = 0; i < hw && b.end + i < f.H; ++i) {
    unsigned char* labels = own.halo_labels.data() + static_cast<std::size_t>(i) * f.W;
    int* layers = own.halo_layers.data() + static_cast<std::size_t>(i) * f.W;
    filter_and_teach_row(f, b.end + i, labels, layers, own.column_sums.data());
  }
  update_ready(std::min(f.H, b.end + hw));
}

// The head of band k, once every band has finished its rows: its first two
// rows filtered (they read the band above's last labels), and its first
// targets updated.
void finish_head(const FusedPass& f, int k) {
  const Band b = f.bands[static_cast<std::size_t>(k)];
  BandScratch& own = (*f.scratch)[static_cast<std::size_t>(k)];
  for (int x = b.begin; x < b.begin + 2; ++x)
    filter_and_teach_row(f, x, shared_label_row(f, x), shared_layer_row(f, x), own.column_sums.data());
  update_rows(band_pass(f, own), b.begin, std::min(b.end, b.begin + f.head));
}

// Each band's row tables: the frame's own rows, but for the first rows of
// the band below, which come from the band's private copy.
void point_band_rows(FusedPass& f) {
  const int hw = f.width_2d / 2;
  std::vector<BandScratch>& scratch = *f.scratch;
  scratch.resize(f.bands.size());
  for (std::size_t k = 0; k < f.bands.size(); ++k) {
    BandScratch& own = scratch[k];
    own.label_rows.assign(f.plan->label_rows.begin(), f.plan->label_rows.end());
    own.layer_rows.assign(f.plan->layer_rows.begin(), f.plan->layer_rows.end());
    own.halo_labels.assign(static_cast<std::size_t>(hw) * f.W, LABEL_FOREGROUND);
    own.halo_layers.assign(static_cast<std::size_t>(hw) * f.W, -1);
    own.column_sums.resize(static_cast<std::size_t>(f.W));
    for (int i = 0; i < hw && f.bands[k].end + i < f.H; ++i) {
      const std::size_t y = static_cast<std::size_t>(f.bands[k].end + i);
      own.label_rows[y] = own.halo_labels.data() + static_cast<std::size_t>(i) * f.W;
      own.layer_rows[y] = own.halo_layers.data() + static_cast<std::size_t>(i) * f.W;
    }
  }
}

__attribute__((noinline)) std::vector<BandScratch>& thread_band_scratch() {
  thread_local std::vector<BandScratch> scratch;
  return scratch;
}

}  // namespace

bool online_pass_applies(const ModelSettings& s, int H, int W, int width_2d) {
  const int hw = width_2d / 2;
  const int start_row = s.first_search_row < 0 ? 0 : s.first_search_row;
  // Where the rows of a band and its neighbours are not plain interior rows,
  // or the segmentation has no row-wise fast path, the three passes run.
  return s.colour_mode != 2 && width_2d >= 1 && width_2d % 2 == 1 && hw <= INNER_MAX_HALF && W >= 5 &&
         H >= BAND_PER_HEAD * (hw + 2) && start_row < H;
}

bool online_pass_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                      PlaneSet<float>* bg_model, unsigned char* seg_mask, unsigned char* filtered_mask, int n,
                      float threshold, int* match_index, const PlaneSet<float> rate_kernel_2d, int width_2d) {
  const int hw = width_2d / 2;
  const int head = hw + 2;
  const int start_row = s.first_search_row < 0 ? 0 : s.first_search_row;
  if (!online_pass_applies(s, H, W, width_2d)) return false;
  const int threads = s.run.workers != nullptr ? s.run.workers->threads() : 1;
  const int band_count = std::max(1, std::min(threads, H / (BAND_PER_HEAD * head)));
  UpdatePlan& plan = thread_plan();
  prepare_plan(s, bg_model, rate_kernel_2d, H, W, width_2d, plan);
  point_rows_at(filtered_mask, H, W, plan);
  FusedPass f{&s,
              frame_planes,
              H,
              W,
              n,
              width_2d,
              start_row,
              packed_path(width_2d, W, s.layer_count) ? 3 * hw : 0,
              bg_model,
              seg_mask,
              filtered_mask,
              match_index,
              threshold,
              &plan,
              next_pass_number(),
              {},
              &thread_band_scratch(),
              head};
  for (int k = 0; k < band_count; ++k)
    f.bands.push_back(Band{static_cast<int>(static_cast<long long>(H) * k / band_count),
                           static_cast<int>(static_cast<long long>(H) * (k + 1) / band_count)});
  point_band_rows(f);
  run_split(s.run.workers, band_count, 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) segment_head(f, k);
  });
  run_split(s.run.workers, band_count, 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) run_band(f, k);
  });
  run_split(s.run.workers, band_count, 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) finish_head(f, k);
  });
  return true;
}

}  // namespace strellix
