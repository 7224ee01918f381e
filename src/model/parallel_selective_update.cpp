#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "core/settings.h"
#include "core/vector_width.h"
#include "core/worker_pool.h"
#include "model/parallel_passes.h"
#include "model/parallel_update.h"

namespace strellix {

// Matching is finished before the update starts, so the blends that reach a
// pixel depend only on this frame's labels, layers and frame values. Each
// target pixel can therefore replay, on its own, the blends that the centres
// around it make in raster order, with the 1D update of its own centre at
// its place in that order. Targets are then independent and each is written
// by one thread only, with the same sequence of roundings as the reference pass.
//
// A target's blends form one long chain of dependent roundings, so targets
// are interleaved: inside the image, all targets of a piece of a row take
// their blend from one centre offset before any takes the next, which keeps
// every target's own order and lets the processor overlap the chains.

namespace parallel_update {

namespace {

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

// Any target: the centres around it one by one, each window cut as the
// reference update cuts it.
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
#include "model/parallel_update_span.inc"
#undef SPAN_WIDE
}  // namespace span_wide
STRELLIX_END_AVX2
#endif
namespace span_base {
#define SPAN_WIDE 0
#include "model/parallel_update_span.inc"
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
  if (s.settings->run.wide) {
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

}  // namespace

void learning_layer_row(const ModelSettings& settings, const unsigned char* label_row, const int* match_index,
                        int W, int start_row, int row, int edge, int* layer_row) {
  const bool sides_only = edge > 0 && 2 * edge < W;
  const std::size_t row_at = static_cast<std::size_t>(row) * W;
  for (int col = 0; col < W; ++col) {
    if (sides_only && col == edge) col = W - edge;
    layer_row[col] = row >= start_row ? taught_layer(settings, label_row, match_index, row_at, col) : -1;
  }
}

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

void prepare_plan(const ModelSettings& settings, const ModelView& model, int H, int W, UpdatePlan& plan) {
  PlaneSet<float>* bg_model = model.layers;
  const PlaneSet<float> rate_kernel_2d = model.rates;
  const int width_2d = model.rates_width;
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

void point_rows_at(const unsigned char* labels, int H, int W, UpdatePlan& plan) {
  plan.label_rows.resize(static_cast<std::size_t>(H));
  plan.layer_rows.resize(static_cast<std::size_t>(H));
  for (int y = 0; y < H; ++y) {
    plan.label_rows[static_cast<std::size_t>(y)] = labels + static_cast<std::size_t>(y) * W;
    plan.layer_rows[static_cast<std::size_t>(y)] = plan.layer.data() + static_cast<std::size_t>(y) * W;
  }
}

unsigned long long next_pass_number() {
  static std::atomic<unsigned long long> calls{0};
  return ++calls;
}

// The plan is kept in a thread-local object, looked up once here: in
// position-independent code every lookup of one is a call.
__attribute__((noinline)) UpdatePlan& thread_plan() {
  thread_local UpdatePlan plan;
  return plan;
}

}  // namespace parallel_update

void selective_update_parallel(const ModelSettings& settings, const FrameView& frame, const ModelView& model,
                               const LabelView& labels) {
  using namespace parallel_update;
  const int H = frame.height;
  const int W = frame.width;
  const int width_2d = model.rates_width;
  const int* match_index = labels.match_index;
  const int start_row = settings.first_search_row < 0 ? 0 : settings.first_search_row;
  WorkerPool* const workers = settings.run.workers;
  if (start_row >= H || W <= 0) return;
  UpdatePlan& plan = thread_plan();
  prepare_plan(settings, model, H, W, plan);
  point_rows_at(labels.filtered, H, W, plan);
  int* layer = plan.layer.data();
  const int edge = packed_path(width_2d, W, settings.layer_count) ? 3 * (width_2d / 2) : 0;
  run_split(workers, H, 16, [&](int begin, int end) {
    for (int row = begin; row < end; ++row)
      learning_layer_row(settings, plan.label_rows[static_cast<std::size_t>(row)], match_index, W, start_row,
                         row, edge, layer + static_cast<std::size_t>(row) * W);
  });
  const Pass pass = {frame.planes,           H,           W,         plan.label_rows.data(),
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

}  // namespace strellix
