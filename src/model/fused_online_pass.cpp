// The online frame in one pass. Segmentation, the coherence filter and
// the selective update would each stream the whole model through memory;
// here each thread takes a band of rows and works down it a few rows apart
// (segment a row, filter the row two above, update the targets above
// that), so that the model rows are read once a frame while they are still
// in the cache. The rows where bands meet are segmented first and updated
// last, from private copies of the labels they read; every result is that
// of the three passes one after the other, to the bit.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/settings.h"
#include "core/worker_pool.h"
#include "model/parallel_passes.h"
#include "model/parallel_update.h"

namespace strellix {

using namespace parallel_update;

namespace {

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
  FrameView frame;
  ModelView model;
  LabelView labels;
  float threshold;
  int H, W, width_2d, start_row, edge;
  UpdatePlan* plan;
  unsigned long long number;
  std::vector<Band> bands;
  std::vector<BandScratch>* scratch;
  int head;  // rows at the top of a band that the band above needs segmented: hw + 2
};

Pass band_pass(const FusedPass& f, const BandScratch& own) {
  return Pass{f.frame.planes,
              f.H,
              f.W,
              own.label_rows.data(),
              own.layer_rows.data(),
              f.width_2d,
              f.start_row,
              f.plan,
              f.number,
              f.labels.match_index,
              f.settings};
}

void filter_and_teach_row(const FusedPass& f, int x, unsigned char* label_row, int* layer_row,
                          unsigned char* column_sums) {
  coherence_filter_row_parallel(*f.settings, f.H, f.W, f.labels.segmented, label_row, x, column_sums);
  learning_layer_row(*f.settings, label_row, f.labels.match_index, f.W, f.start_row, x, f.edge, layer_row);
}

unsigned char* shared_label_row(const FusedPass& f, int y) {
  return f.labels.filtered + static_cast<std::size_t>(y) * f.W;
}

int* shared_layer_row(const FusedPass& f, int y) {
  return f.plan->layer.data() + static_cast<std::size_t>(y) * f.W;
}

// The rows at the top of band k that the band above needs before it can
// finish: segmented first, before any band changes the model.
void segment_head(const FusedPass& f, int k) {
  const Band b = f.bands[static_cast<std::size_t>(k)];
  segment_rows_parallel(*f.settings, f.frame, f.model, f.labels, f.threshold, b.begin,
                        std::min(b.end, b.begin + f.head));
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
    segment_rows_parallel(*f.settings, f.frame, f.model, f.labels, f.threshold, r, r + 1);
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

bool fused_online_applies(const ModelSettings& s, const FrameView& frame, const ModelView& model) {
  const int H = frame.height;
  const int W = frame.width;
  const int width_2d = model.rates_width;
  const int hw = width_2d / 2;
  const int start_row = s.first_search_row < 0 ? 0 : s.first_search_row;
  // Where the rows of a band and its neighbours are not plain interior rows,
  // or the segmentation has no row-wise vector path, the three passes run.
  return s.colour_mode != 2 && width_2d >= 1 && width_2d % 2 == 1 && hw <= INNER_MAX_HALF && W >= 5 &&
         H >= BAND_PER_HEAD * (hw + 2) && start_row < H;
}

void online_pass_fused(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                       const LabelView& labels, float threshold) {
  const int H = frame.height;
  const int W = frame.width;
  const int width_2d = model.rates_width;
  const int hw = width_2d / 2;
  const int head = hw + 2;
  const int start_row = s.first_search_row < 0 ? 0 : s.first_search_row;
  const int threads = s.run.workers != nullptr ? s.run.workers->threads() : 1;
  const int band_count = std::max(1, std::min(threads, H / (BAND_PER_HEAD * head)));
  UpdatePlan& plan = thread_plan();
  prepare_plan(s, model, H, W, plan);
  point_rows_at(labels.filtered, H, W, plan);
  FusedPass f{&s,        frame,
              model,     labels,
              threshold, H,
              W,         width_2d,
              start_row, packed_path(width_2d, W, s.layer_count) ? 3 * hw : 0,
              &plan,     next_pass_number(),
              {},        &thread_band_scratch(),
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
}

}  // namespace strellix
