#include "fast_mode/fast_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "colour/model_space.h"
#include "core/worker_pool.h"
#include "fast_mode/calibration_sweep.h"
#include "fast_mode/row_kernels.h"

namespace strellix {
namespace fast {

namespace {

// Bands of fewer rows would let a band's neighbour rows reach the rows at
// the image's edge that the filter leaves unwritten.
constexpr int MIN_BAND_ROWS = 8;

int round_up_to_row_align(int n) {
  return (n + ROW_ALIGN - 1) / ROW_ALIGN * ROW_ALIGN;
}

// A row with ROW_PAD columns of padding on either side.
template <class T>
struct Padded {
  std::vector<T> data;
  void resize(int stride, T fill) { data.assign(static_cast<std::size_t>(stride) + 2 * ROW_PAD, fill); }
  T* at0() { return data.data() + ROW_PAD; }
};

// One row of the ring a band keeps: the frame in model units and, once
// its labels are final, the labels and the layer each pixel teaches.
struct RingRow {
  Padded<float> cone[3];
  Padded<short> coarse[3];
  Padded<short> units[3];
  Padded<unsigned char> labels;
  Padded<signed char> teach;
  void resize(int stride) {
    for (Padded<float>& c : cone) c.resize(stride, 0.0f);
    for (Padded<short>& c : coarse) c.resize(stride, 0);
    for (Padded<short>& c : units) c.resize(stride, 0);
    labels.resize(stride, LABEL_FOREGROUND);
    teach.resize(stride, -1);
  }
};

}  // namespace

// What one band of rows keeps between frames: its rows, the ring of the
// rows its update reads, its own copies of the filtered labels just
// outside it, and scratch.
struct FastModel::Band {
  int first = 0, end = 0;  // rows [first, end)
  std::vector<RingRow> ring;
  std::vector<unsigned char> outside_labels;  // half rows above, then half rows below
  std::vector<unsigned char> column_sums;
  std::vector<float> scratch;
  Padded<float> cone[3];  // a boundary row's frame while it is segmented

  // Whether the band segments the row before the others start: rows near
  // its edges, which its neighbours read.
  bool early(int row, int half) const { return row - first < half + 2 || end - 1 - row < half + 2; }
  RingRow& slot(int row) { return ring[static_cast<std::size_t>(row) % ring.size()]; }
  // The band's copy of the filtered labels of a row within half rows
  // outside it (rows above first, then rows below), width bytes.
  unsigned char* outside(int row, int half, int width) {
    const int at = row < first ? row - (first - half) : half + row - end;
    return outside_labels.data() + static_cast<std::size_t>(at) * width;
  }
};

FastModel::FastModel(const Parameters& parameters, const PassExecution& run, const ExactPieces& pieces)
    : parameters_(parameters), run_(run), filter_row_(pieces.filter_row) {
  validate(parameters_);
  if (parameters_.layers > MAX_LAYERS)
    throw std::invalid_argument("strellix: the fast numerics take at most " + std::to_string(MAX_LAYERS) +
                                " layers (got " + std::to_string(parameters_.layers) + ")");
  layers_ = parameters_.layers;
  width_2d_ = 2 * parameters_.width_2d + 1;
  half_ = parameters_.width_2d;
  threshold_ = static_cast<float>(parameters_.threshold);
  learning_rate_ = static_cast<float>(parameters_.learning_rate);
  width_1d_ = 2 * parameters_.width_1d + 1;
  kernel_1d_.assign(pieces.kernel_1d, pieces.kernel_1d + width_1d_);
  for (int r = 0; r < width_2d_; ++r)
    kernel_2d_.insert(kernel_2d_.end(), pieces.kernel_2d[r], pieces.kernel_2d[r] + width_2d_);
  weights_ =
      make_update_weights(layers_, width_1d_, pieces.kernel_1d, width_2d_, pieces.kernel_2d, learning_rate_);
  // A = 1 / (width_2d + 1) and B = A * lr, each worked out in double.
  const double a = 1.0 / (width_2d_ + 1);
  rate_a_ = static_cast<float>(a);
  rate_b_ = static_cast<float>(a * static_cast<double>(learning_rate_));
}

FastModel::~FastModel() = default;

const char* FastModel::vector_build() const {
  return row_kernels_name(run_.wide);
}

short FastModel::layer_value(int row, int column, int layer, int coordinate) const {
  const std::size_t block = static_cast<std::size_t>(3 * layers_) * stride_;
  return model_[row * block + model_offset(layers_, 3 * layer + coordinate, column)];
}

void FastModel::check_frame(const cv::Mat& bgr) const {
  if (bgr.type() != CV_8UC3 || bgr.empty())
    throw std::invalid_argument("strellix: the fast numerics take 8-bit BGR frames");
  if (bgr.cols == width_ && bgr.rows == height_) return;
  throw std::invalid_argument("strellix: the frame is " + std::to_string(bgr.cols) + "x" +
                              std::to_string(bgr.rows) + " pixels, the model " + std::to_string(width_) +
                              "x" + std::to_string(height_));
}

void FastModel::seed(const cv::Mat& bgr) {
  if (bgr.type() != CV_8UC3 || bgr.empty())
    throw std::invalid_argument("strellix: the fast numerics take an 8-bit BGR background");
  const int W = bgr.cols;
  const int H = bgr.rows;
  const int stride = round_up_to_row_align(W);
  const std::size_t N = static_cast<std::size_t>(W) * H;
  std::vector<short> model(static_cast<std::size_t>(H) * 3 * layers_ * stride, 0);
  const RowKernels& k = row_kernels(run_.wide);
  Padded<float> cone[3];
  for (Padded<float>& c : cone) c.resize(stride, 0.0f);
  for (int r = 0; r < H; ++r) {
    k.convert(bgr.ptr<unsigned char>(r), W, cone[0].at0(), cone[1].at0(), cone[2].at0());
    short* block = model.data() + static_cast<std::size_t>(r) * 3 * layers_ * stride;
    for (int c = 0; c < 3; ++c) {
      const float* from = cone[c].at0();
      for (int x = 0; x < stride; ++x) {
        // Rounded to nearest, halves to even, as the update stores values.
        const short v = static_cast<short>(std::nearbyint(from[x]));
        for (int j = 0; j < layers_; ++j) block[model_offset(layers_, 3 * j + c, x)] = v;
      }
    }
  }
  model_.swap(model);
  width_ = W;
  height_ = H;
  stride_ = stride;
  for (std::vector<unsigned char>& store : label_store_) store.assign(N, LABEL_BACKGROUND);
  segmented_ = label_store_[0].data();
  filtered_ = label_store_[1].data();
  current_ = segmented_;
  match_.assign(N, -1);
  search_mask_.assign(N, 255);
  settings_ = ModelSettings();
  settings_.layer_count = layers_;
  settings_.search_mask = search_mask_.data();
  last_frame_ = bgr.clone();
  frames_applied_ = 0;
  rate_ = rate_b_;
  showing_look_ = false;
  bands_.clear();
}

void FastModel::end_calibration() {
  frames_applied_ = std::max<long long>(frames_applied_, layers_);
}

void FastModel::apply(const cv::Mat& bgr, double learning_rate) {
  run_frame(bgr, true, learning_rate);
}

void FastModel::apply_keeping(cv::Mat& bgr, double learning_rate) {
  run_frame(bgr, false, learning_rate);
  cv::swap(bgr, last_frame_);
}

namespace {

// The rate of calibration frame t: it falls linearly from a towards b,
// reaching b at the last one (t = layers - 1).
float calibration_rate(double a, double b, long long t, int layers) {
  return static_cast<float>(a - static_cast<double>(t) * (a - b) / static_cast<double>(layers - 1));
}

}  // namespace

// An online frame copies its rows into last_frame_ as its bands read them,
// while they are in the cache; other frames copy it whole.
void FastModel::run_frame(const cv::Mat& bgr, bool copy, double learning_rate) {
  if (!seeded()) throw std::logic_error("strellix: apply() needs a seeded model");
  check_frame(bgr);
  if (learning_rate == 0.0) {
    look(bgr);
    if (copy) bgr.copyTo(last_frame_);
    return;
  }
  showing_look_ = false;
  const long long t = frames_applied_;
  // The model's rate follows the configured one whatever this frame
  // learns with, as the online stretch goes on with the rate the last
  // calibration frame left.
  if (t > 0 && t < layers_) rate_ = calibration_rate(rate_a_, rate_b_, t, layers_);
  frame_weights_in_use_ = &weights_for(learning_rate, t);
  if (t >= layers_) {
    copy_rows_ = copy;
    if (copy) last_frame_.create(height_, width_, CV_8UC3);
    run_online(bgr);
    copy = false;
  } else if (t > 0) {
    calibrate(bgr);
  }
  if (copy) bgr.copyTo(last_frame_);
  ++frames_applied_;
}

// The weights of frame t at its learning rate, at the rate of the frame:
// the model's own for the configured rate (negative), else those a model
// configured with that rate would use (online: the last calibration
// frame's rate, or B with one layer).
UpdateWeights& FastModel::weights_for(double learning_rate, long long t) {
  if (learning_rate < 0.0) {
    set_rate(weights_, rate_);
    return weights_;
  }
  const float lr = static_cast<float>(learning_rate);
  if (frame_weights_rate_ != learning_rate) {
    std::vector<const float*> rows;
    for (int r = 0; r < width_2d_; ++r)
      rows.push_back(kernel_2d_.data() + static_cast<std::size_t>(r) * width_2d_);
    frame_weights_ = make_update_weights(layers_, width_1d_, kernel_1d_.data(), width_2d_, rows.data(), lr);
    frame_weights_rate_ = learning_rate;
  }
  const float b = static_cast<float>(1.0 / (width_2d_ + 1) * static_cast<double>(lr));
  const float rate =
      layers_ > 1 ? calibration_rate(rate_a_, b, std::min<long long>(t, layers_ - 1), layers_) : b;
  set_rate(frame_weights_, rate);
  return frame_weights_;
}

// Frame t segmented against the model as it stands, learning nothing: the
// labels its stretch gives before any update (the first frame's are
// background; a calibration frame's are the best match against the
// calibration threshold; an online frame's are segmented and filtered).
// Rows are worked in pieces on the threads, each with its own scratch.
void FastModel::look(const cv::Mat& bgr) {
  const std::size_t N = static_cast<std::size_t>(width_) * height_;
  look_seg_.resize(N);
  look_out_.resize(N);
  look_match_.resize(N);
  const long long t = frames_applied_;
  showing_look_ = true;
  if (t == 0) {
    std::fill(look_out_.begin(), look_out_.end(), LABEL_BACKGROUND);
    return;
  }
  const bool online = t >= layers_;
  const float threshold = (online ? threshold_ : static_cast<float>(calibration_threshold)) * UNIT * UNIT;
  unsigned char* segmented = online ? look_seg_.data() : look_out_.data();
  run_split(run_.workers, height_, 1, [&](int begin, int end) {
    Padded<float> cone[3];
    for (Padded<float>& c : cone) c.resize(stride_, 0.0f);
    const float* rows[3] = {cone[0].at0(), cone[1].at0(), cone[2].at0()};
    for (int r = begin; r < end; ++r) {
      row_kernels(run_.wide).convert(bgr.ptr<unsigned char>(r), width_, cone[0].at0(), cone[1].at0(),
                                     cone[2].at0());
      const std::size_t at = static_cast<std::size_t>(r) * width_;
      segment_row(rows, r, threshold, segmented + at, look_match_.data() + at);
    }
  });
  if (!online) return;
  // Where the filter writes nothing, what the buffer a learning frame
  // filters into holds stands, as it would for that frame.
  std::copy(filtered_, filtered_ + N, look_out_.begin());
  run_split(run_.workers, height_, 1, [&](int begin, int end) {
    std::vector<unsigned char> column_sums(static_cast<std::size_t>(width_));
    for (int r = begin; r < end; ++r)
      filter_row_(settings_, height_, width_, look_seg_.data(),
                  look_out_.data() + static_cast<std::size_t>(r) * width_, r, column_sums.data());
  });
}

void FastModel::calibrate(const cv::Mat& bgr) {
  const UpdateWeights& weights = *frame_weights_in_use_;
  SweepTarget t;
  t.width = width_;
  t.height = height_;
  t.stride = stride_;
  t.layers = layers_;
  t.half = half_;
  t.model = model_.data();
  t.labels = segmented_;
  t.match = match_.data();
  t.window_weights = weights.window.data();
  t.one_d = weights.one_d.data();
  t.threshold = calibration_threshold * UNIT * UNIT;
  calibration_sweep(t, row_kernels(run_.wide), run_.workers, bgr);
  current_ = segmented_;
}

void FastModel::prepare_bands(int count) {
  if (static_cast<int>(bands_.size()) == count) return;
  bands_.clear();
  const int ring_rows = 2 * half_ + 3;
  for (int k = 0; k < count; ++k) {
    std::unique_ptr<Band> band(new Band);
    band->first = static_cast<int>(static_cast<long long>(height_) * k / count);
    band->end = static_cast<int>(static_cast<long long>(height_) * (k + 1) / count);
    band->ring.resize(static_cast<std::size_t>(ring_rows));
    for (RingRow& row : band->ring) row.resize(stride_);
    band->outside_labels.assign(static_cast<std::size_t>(2 * half_) * width_, LABEL_FOREGROUND);
    band->column_sums.assign(static_cast<std::size_t>(width_), 0);
    band->scratch.assign(update_scratch_floats(layers_), 0.0f);
    for (Padded<float>& c : band->cone) c.resize(stride_, 0.0f);
    bands_.push_back(std::move(band));
  }
}

// An online frame: first every band segments the rows near its edges,
// which its neighbours read; then every band segments, filters and updates
// its own rows, a few rows apart, reading its neighbours' rows only where
// they were segmented in the first step. Every update reads the model as
// it was before the frame, so the bands never wait on each other.
void FastModel::run_online(const cv::Mat& bgr) {
  const int threads = run_.workers != nullptr ? run_.workers->threads() : 1;
  prepare_bands(std::max(1, std::min(threads, height_ / MIN_BAND_ROWS)));
  run_split(run_.workers, static_cast<int>(bands_.size()), 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) segment_boundary_rows(bgr, *bands_[k]);
  });
  run_split(run_.workers, static_cast<int>(bands_.size()), 1, [&](int begin, int end) {
    for (int k = begin; k < end; ++k) work_band(bgr, *bands_[k]);
  });
  current_ = filtered_;
  // This frame's filtered labels are where the next frame is segmented;
  // pixels the filter does not write keep this frame's unfiltered label.
  std::swap(segmented_, filtered_);
}

void FastModel::segment_into(const float* const* cone, int row) {
  const std::size_t at = static_cast<std::size_t>(row) * width_;
  segment_row(cone, row, threshold_ * UNIT * UNIT, segmented_ + at, match_.data() + at);
}

void FastModel::segment_row(const float* const* cone, int row, float threshold, unsigned char* labels,
                            signed char* match) const {
  SegmentRow s;
  s.model = model_.data() + static_cast<std::size_t>(row) * 3 * layers_ * stride_;
  s.x = cone[0];
  s.y = cone[1];
  s.z = cone[2];
  s.stride = stride_;
  s.width = width_;
  s.layers = layers_;
  s.threshold = threshold;
  s.labels = labels;
  s.match = match;
  row_kernels(run_.wide).segment(s);
}

void FastModel::segment_boundary_rows(const cv::Mat& bgr, Band& band) {
  const float* cone[3] = {band.cone[0].at0(), band.cone[1].at0(), band.cone[2].at0()};
  for (int row = band.first; row < band.end; ++row) {
    if (!band.early(row, half_)) continue;
    row_kernels(run_.wide).convert(bgr.ptr<unsigned char>(row), width_, band.cone[0].at0(),
                                   band.cone[1].at0(), band.cone[2].at0());
    segment_into(cone, row);
  }
}

void FastModel::work_band(const cv::Mat& bgr, Band& band) {
  const int h = half_;
  const int H = height_;
  const int W = width_;
  const RowKernels& k = row_kernels(run_.wide);
  auto convert = [&](int row) {
    RingRow& r = band.slot(row);
    k.convert(bgr.ptr<unsigned char>(row), W, r.cone[0].at0(), r.cone[1].at0(), r.cone[2].at0());
  };
  // The labels a centre row teaches with: this frame's filtered labels,
  // the band's own copy for rows outside it.
  auto centre_labels = [&](int row) -> const unsigned char* {
    if (row < band.first || row >= band.end) return band.outside(row, h, W);
    return filtered_ + static_cast<std::size_t>(row) * W;
  };
  // A centre row: the labels it teaches with and the layers it teaches.
  auto make_centre = [&](int row) {
    RingRow& r = band.slot(row);
    CentreSource c;
    c.labels = centre_labels(row);
    c.match = match_.data() + static_cast<std::size_t>(row) * W;
    c.width = W;
    c.stride = stride_;
    for (int i = 0; i < 3; ++i) {
      c.cone[i] = r.cone[i].at0();
      c.coarse[i] = r.coarse[i].at0();
      c.units[i] = r.units[i].at0();
    }
    c.out_labels = r.labels.at0();
    c.teach = r.teach.at0();
    k.centre(c);
  };
  for (int row = band.first - h; row < band.end + h; ++row) {
    if (row < 0 || row >= H || (row >= band.first && row < band.end)) continue;
    filter_row_(settings_, H, W, segmented_, band.outside(row, h, W), row, band.column_sums.data());
  }
  for (int row = std::max(0, band.first - h); row < band.first; ++row) {
    convert(row);
    make_centre(row);
  }
  const int below_end = std::min(H, band.end + h);
  for (int s = band.first;; ++s) {
    if (s < band.end) {
      convert(s);
      if (copy_rows_) std::memcpy(last_frame_.ptr<unsigned char>(s), bgr.ptr<unsigned char>(s), 3 * W);
      if (!band.early(s, h)) {
        RingRow& r = band.slot(s);
        const float* cone[3] = {r.cone[0].at0(), r.cone[1].at0(), r.cone[2].at0()};
        segment_into(cone, s);
      }
    } else if (s < below_end) {
      convert(s);
    }
    const int f = s - 2;
    if (f >= band.first && f < band.end) {
      filter_row_(settings_, H, W, segmented_, filtered_ + static_cast<std::size_t>(f) * W, f,
                  band.column_sums.data());
      make_centre(f);
    } else if (f >= band.end && f < below_end) {
      make_centre(f);
    }
    const int u = f - h;
    if (u >= band.first && u < band.end) update_target_row(band, u, s + 1 < band.end ? s + 1 : -1);
    if (u >= band.end - 1) break;
  }
}

void FastModel::update_target_row(Band& band, int row, int next_segmented) {
  const UpdateWeights& weights = *frame_weights_in_use_;
  UpdateRow u;
  u.stride = stride_;
  u.layers = layers_;
  u.half = half_;
  u.separable = weights.separable;
  const int width = 2 * half_ + 1;
  for (int r = 0; r < width; ++r) {
    const int y = row - half_ + r;
    u.centre_present[r] = y >= 0 && y < height_;
    u.kernel_row[r] = nullptr;
    u.centre[r] =
        CentreRow{nullptr, nullptr, nullptr, {nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr},
                  nullptr, nullptr};
    if (!u.centre_present[r]) continue;
    RingRow& ring = band.slot(y);
    u.centre[r] = CentreRow{ring.cone[0].at0(),
                            ring.cone[1].at0(),
                            ring.cone[2].at0(),
                            {ring.coarse[0].at0(), ring.coarse[1].at0(), ring.coarse[2].at0()},
                            {ring.units[0].at0(), ring.units[1].at0(), ring.units[2].at0()},
                            ring.teach.at0(),
                            ring.labels.at0()};
    u.kernel_row[r] = weights.kernel.data() + static_cast<std::size_t>(kernel_row_for(half_, row, y)) * width;
  }
  u.kernel = weights.kernel.data();
  u.edge_kernel = weights.edge.data();
  u.edge_words = weights.edge_words.data();
  u.grow_polynomial = weights.grow_polynomial;
  for (int i = 0; i < 4; ++i) u.grow_coefficients[i] = weights.grow_coefficients[i];
  u.grow = weights.grow.data();
  u.fixed_point = weights.fixed_point;
  u.grow_fraction = weights.grow_fraction.data();
  u.inverse_fraction = weights.inverse_fraction.data();
  u.one_d_fraction = weights.one_d_fraction.data();
  u.grow_size = weights.grow_size;
  u.one_d = weights.one_d.data();
  u.model = model_.data() + static_cast<std::size_t>(row) * 3 * layers_ * stride_;
  u.next_model = next_segmented < 0
                     ? nullptr
                     : model_.data() + static_cast<std::size_t>(next_segmented) * 3 * layers_ * stride_;
  u.scratch = band.scratch.data();
  row_kernels(run_.wide).update(u);
}

cv::Mat FastModel::background() const {
  if (!seeded()) throw std::logic_error("strellix: background() needs a seeded model");
  const RowKernels& k = row_kernels(run_.wide);
  const std::size_t block = static_cast<std::size_t>(3 * layers_) * stride_;
  Padded<float> cone[3];
  for (Padded<float>& c : cone) c.resize(stride_, 0.0f);
  std::vector<float> nearest(3 * static_cast<std::size_t>(width_));
  std::vector<unsigned char> rgb(3 * static_cast<std::size_t>(width_));
  float* nearest_planes[3] = {nearest.data(), nearest.data() + width_, nearest.data() + 2 * width_};
  unsigned char* rgb_planes[3] = {rgb.data(), rgb.data() + width_, rgb.data() + 2 * width_};
  cv::Mat image(height_, width_, CV_8UC3);
  for (int r = 0; r < height_; ++r) {
    k.convert(last_frame_.ptr<unsigned char>(r), width_, cone[0].at0(), cone[1].at0(), cone[2].at0());
    const short* row = model_.data() + r * block;
    for (int c = 0; c < width_; ++c) {
      // The first of the nearest layers, as the exact rendering picks it.
      float best = 0.0f;
      int best_layer = 0;
      for (int j = 0; j < layers_; ++j) {
        float d = 0.0f;
        for (int i = 0; i < 3; ++i) {
          const float e = static_cast<float>(row[model_offset(layers_, 3 * j + i, c)]) - cone[i].at0()[c];
          d += e * e;
        }
        if (j == 0 || d < best) {
          best = d;
          best_layer = j;
        }
      }
      for (int i = 0; i < 3; ++i)
        nearest_planes[i][c] = static_cast<float>(row[model_offset(layers_, 3 * best_layer + i, c)]) / UNIT;
    }
    model_to_rgb_planes(3, nearest_planes, width_, rgb_planes);
    unsigned char* out = image.ptr<unsigned char>(r);
    for (int c = 0; c < width_; ++c) {
      out[3 * c] = rgb_planes[2][c];
      out[3 * c + 1] = rgb_planes[1][c];
      out[3 * c + 2] = rgb_planes[0][c];
    }
  }
  return image;
}

FastModel::StateView FastModel::state() {
  return StateView{&rate_, segmented_, filtered_, &last_frame_};
}

void FastModel::read_plane(int plane, short* to) const {
  const std::size_t block = static_cast<std::size_t>(3 * layers_) * stride_;
  for (int r = 0; r < height_; ++r)
    for (int c = 0; c < width_; ++c) *to++ = model_[r * block + model_offset(layers_, plane, c)];
}

void FastModel::write_plane(int plane, const short* from) {
  const std::size_t block = static_cast<std::size_t>(3 * layers_) * stride_;
  for (int r = 0; r < height_; ++r)
    for (int c = 0; c < width_; ++c) model_[r * block + model_offset(layers_, plane, c)] = *from++;
}

}  // namespace fast
}  // namespace strellix
