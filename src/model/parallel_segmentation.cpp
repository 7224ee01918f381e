#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "colour/colour_convert.h"
#include "core/settings.h"
#include "core/vector_width.h"
#include "core/worker_pool.h"
#include "model/best_match.h"
#include "model/parallel_passes.h"
#include "model/segmentation.h"

namespace strellix {

namespace {

// Two pixels per vector, two vectors at a time. The vector operations are
// the scalar ones lane by lane (IEEE double, no contraction), so every
// distance and every rounding is that of find_best_match.
typedef float f2 __attribute__((vector_size(8)));
typedef double d2 __attribute__((vector_size(16)));
typedef long long l2 __attribute__((vector_size(16)));

constexpr int LANES = 4;

d2 load_wide(const float* src) {
  return d2{static_cast<double>(src[0]), static_cast<double>(src[1])};
}

d2 select(l2 take_a, d2 a, d2 b) {
  l2 ia, ib;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  const l2 r = (take_a & ia) | (~take_a & ib);
  d2 out;
  std::memcpy(&out, &r, sizeof out);
  return out;
}

// One step of the running minimum of find_best_match for two pixels.
void match_step(d2 f0, d2 f1, d2 f2v, const PlaneSet<float> layer, std::size_t p, long long i, d2 limit,
                d2& best, l2& match) {
  const d2 d3 = load_wide(layer[2] + p) - f2v;
  const d2 dy = load_wide(layer[1] + p) - f1;
  const d2 d1 = load_wide(layer[0] + p) - f0;
  const d2 d = d3 * d3 + dy * dy + d1 * d1;
  const l2 closer = (l2)(d < best);  // false for NaN
  const d2 rounded = __builtin_convertvector(__builtin_convertvector(d, f2), d2);
  best = select(closer, rounded, best);
  const l2 accept = closer & (l2)(d <= limit);
  const l2 index = {i, i};
  match = (accept & index) | (~accept & match);
}

unsigned char label_for_match(int result) {
  if (result == MATCH_FOUND) return LABEL_BACKGROUND;
  if (result == MATCH_SHADOW) return LABEL_SHADOW;
  return LABEL_FOREGROUND;
}

// Best layer of pixels p .. p+3 by the distance alone (-1 when none is
// within the threshold).
void best_layers(const PlaneSet<float> frame, PlaneSet<float>* bg_model, std::size_t p, int n,
                 double threshold, long long out[LANES]) {
  const d2 a0 = load_wide(frame[0] + p), a1 = load_wide(frame[1] + p), a2 = load_wide(frame[2] + p);
  const d2 b0 = load_wide(frame[0] + p + 2), b1 = load_wide(frame[1] + p + 2),
           b2 = load_wide(frame[2] + p + 2);
  const double start = static_cast<double>(MATCH_START_DISTANCE);
  d2 best_a = {start, start}, best_b = {start, start};
  l2 match_a = {-1, -1}, match_b = {-1, -1};
  const d2 limit = {threshold, threshold};
  for (int i = 0; i < n; ++i) {
    match_step(a0, a1, a2, bg_model[i], p, i, limit, best_a, match_a);
    match_step(b0, b1, b2, bg_model[i], p + 2, i, limit, best_b, match_b);
  }
  std::memcpy(out, &match_a, sizeof match_a);
  std::memcpy(out + 2, &match_b, sizeof match_b);
}

// The shadow test of best_match.cpp for cone coordinates, where a point's
// value is its third coordinate: the value ratio, which needs no
// trigonometry, is tested first, and hue and saturation are worked out
// only for the layers that pass it. The tests and their order are the same,
// so the result is too.
int cone_shadow_test(float c0, float c1, float c2, PlaneSet<float>* bg_model, int p, int n,
                     int& match_index) {
  bool pixel_known = false;
  float h_pixel = 0.0f, s_pixel = 0.0f, v_pixel = 0.0f;
  for (int i = 0; i < n; ++i) {
    const PlaneSet<float> layer = bg_model[i];
    if (!shadow_value_ratio_passes(c2, layer[2][p])) continue;
    if (!pixel_known) {
      cone_to_hsv(c0, c1, c2, h_pixel, s_pixel, v_pixel);
      pixel_known = true;
    }
    float h_layer = 0.0f, s_layer = 0.0f, v_layer = 0.0f;
    cone_to_hsv(layer[0][p], layer[1][p], layer[2][p], h_layer, s_layer, v_layer);
    if (shadow_chroma_passes(s_pixel, h_pixel, s_layer, h_layer)) {
      match_index = i;
      return 1;
    }
  }
  return 0;
}

int any_shadow_test(const ModelSettings& s, float c0, float c1, float c2, PlaneSet<float>* bg_model, int p,
                    int n, int& match_index) {
  if (s.colour_mode == 1 || s.colour_mode == 2)
    return shadow_test(s, c0, c1, c2, bg_model, p, n, match_index);
  return cone_shadow_test(c0, c1, c2, bg_model, p, n, match_index);
}

void store_label(const ModelSettings& s, const PlaneSet<float> frame, PlaneSet<float>* bg_model,
                 std::size_t p, int n, int best, unsigned char* seg_mask, int* match_index) {
  int result = MATCH_FOUND;
  match_index[p] = best;
  if (best < 0) {
    result = MATCH_NONE;
    if (s.use_shadow_test != 0 && any_shadow_test(s, frame[0][p], frame[1][p], frame[2][p], bg_model,
                                                  static_cast<int>(p), n, match_index[p]) == 1)
      result = MATCH_SHADOW;
  }
  seg_mask[p] = label_for_match(result);
}

void segment_span(const ModelSettings& s, const PlaneSet<float> frame, PlaneSet<float>* bg_model,
                  unsigned char* seg_mask, int n, float threshold, int* match_index, std::size_t begin,
                  std::size_t end) {
  std::size_t p = begin;
  for (; p + LANES <= end; p += LANES) {
    bool any = false;
    for (int k = 0; k < LANES; ++k) any = any || s.search_mask[p + k] != 0;
    if (!any) continue;
    long long best[LANES];
    best_layers(frame, bg_model, p, n, static_cast<double>(threshold), best);
    for (int k = 0; k < LANES; ++k) {
      if (s.search_mask[p + k] == 0) continue;
      store_label(s, frame, bg_model, p + k, n, static_cast<int>(best[k]), seg_mask, match_index);
    }
  }
  for (; p < end; ++p) {
    if (s.search_mask[p] == 0) continue;
    const int result = find_best_match(s, frame[0][p], frame[1][p], frame[2][p], bg_model,
                                       static_cast<int>(p), n, threshold, match_index[p]);
    seg_mask[p] = label_for_match(result);
  }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__AVX2__)
#define HAVE_WIDE_SEGMENTATION 1
}  // namespace
STRELLIX_BEGIN_AVX2
namespace {

// The running minimum of find_best_match for four pixels in one vector,
// eight at a time: the same distances and roundings lane by lane. The
// accepted layer is carried as a double, which holds it exactly.
struct Running {
  __m256d f0, f1, f2, best, match;
};

inline __m256d widen4(const float* src) {
  return _mm256_cvtps_pd(_mm_loadu_ps(src));
}

inline void start_running(Running& r, const PlaneSet<float> frame, std::size_t p) {
  r.f0 = widen4(frame[0] + p);
  r.f1 = widen4(frame[1] + p);
  r.f2 = widen4(frame[2] + p);
  r.best = _mm256_set1_pd(static_cast<double>(MATCH_START_DISTANCE));
  r.match = _mm256_set1_pd(-1.0);
}

inline void step_running(Running& r, const PlaneSet<float> layer, std::size_t p, __m256d index,
                         __m256d limit) {
  const __m256d d3 = _mm256_sub_pd(widen4(layer[2] + p), r.f2);
  const __m256d dy = _mm256_sub_pd(widen4(layer[1] + p), r.f1);
  const __m256d d1 = _mm256_sub_pd(widen4(layer[0] + p), r.f0);
  const __m256d d =
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(d3, d3), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(d1, d1));
  const __m256d closer = _mm256_cmp_pd(d, r.best, _CMP_LT_OQ);  // false for NaN
  r.best = _mm256_blendv_pd(r.best, _mm256_cvtps_pd(_mm256_cvtpd_ps(d)), closer);
  const __m256d accept = _mm256_and_pd(closer, _mm256_cmp_pd(d, limit, _CMP_LE_OQ));
  r.match = _mm256_blendv_pd(r.match, index, accept);
}

// Pixels p .. p+7, all inside the search area: labels and layers, the
// shadow test for those that no layer accepts.
void segment_eight_wide(const ModelSettings& s, const PlaneSet<float> frame, PlaneSet<float>* bg_model,
                        std::size_t p, int n, double threshold, unsigned char* seg_mask, int* match_index) {
  Running a, b;
  start_running(a, frame, p);
  start_running(b, frame, p + 4);
  const __m256d limit = _mm256_set1_pd(threshold);
  for (int i = 0; i < n; ++i) {
    const __m256d index = _mm256_set1_pd(static_cast<double>(i));
    step_running(a, bg_model[i], p, index, limit);
    step_running(b, bg_model[i], p + 4, index, limit);
  }
  const __m256i best = _mm256_set_m128i(_mm256_cvttpd_epi32(b.match), _mm256_cvttpd_epi32(a.match));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(match_index + p), best);
  const __m256i none = _mm256_cmpgt_epi32(_mm256_setzero_si256(), best);
  // 255 where no layer matched, 0 elsewhere, one byte per pixel.
  const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(none), _mm256_extracti128_si256(none, 1));
  const __m128i bytes = _mm_packs_epi16(words, words);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(seg_mask + p), bytes);
  int unmatched = _mm256_movemask_ps(_mm256_castsi256_ps(none));
  while (unmatched != 0) {
    const std::size_t q = p + __builtin_ctz(unmatched);
    unmatched &= unmatched - 1;
    store_label(s, frame, bg_model, q, n, -1, seg_mask, match_index);
  }
}

void segment_span_wide(const ModelSettings& s, const PlaneSet<float> frame, PlaneSet<float>* bg_model,
                       unsigned char* seg_mask, int n, float threshold, int* match_index, std::size_t begin,
                       std::size_t end) {
  std::size_t p = begin;
  for (; p + 8 <= end; p += 8) {
    std::uint64_t area;
    std::memcpy(&area, s.search_mask + p, sizeof area);
    // Every byte nonzero: the whole group is in the search area.
    if (((area - 0x0101010101010101ull) & ~area & 0x8080808080808080ull) == 0) {
      segment_eight_wide(s, frame, bg_model, p, n, static_cast<double>(threshold), seg_mask, match_index);
      continue;
    }
    segment_span(s, frame, bg_model, seg_mask, n, threshold, match_index, p, p + 8);
  }
  segment_span(s, frame, bg_model, seg_mask, n, threshold, match_index, p, end);
}

}  // namespace
STRELLIX_END_AVX2
namespace {
#endif

// ---- coherence filter ----

typedef unsigned char u16b __attribute__((vector_size(16)));

u16b load16(const unsigned char* src) {
  u16b v;
  std::memcpy(&v, src, sizeof v);
  return v;
}

u16b splat(unsigned char x) {
  return u16b{x, x, x, x, x, x, x, x, x, x, x, x, x, x, x, x};
}

u16b pick(u16b take_a, u16b a, u16b b) {
  return (take_a & a) | (~take_a & b);
}

// 1 where the label counts as background-like.
u16b background_like(const unsigned char* src) {
  return reinterpret_cast<u16b>(load16(src) < splat(LABEL_FILTERED_FOREGROUND)) & splat(1);
}

// Interior row `row` (columns 2 to W-3) into dst, that row of some output:
// counts of the 5x5 window from sums of five rows per column, then of five
// columns.
void filter_interior_row(const unsigned char* search_mask, int W, const unsigned char* in, unsigned char* dst,
                         int row, unsigned char* column_sums) {
  const u16b twelve = splat(12);
  {
    const unsigned char* top = in + static_cast<std::size_t>(row - 2) * W;
    int c = 0;
    for (; c + 16 <= W; c += 16) {
      u16b s = background_like(top + c);
      for (int k = 1; k < 5; ++k) s += background_like(top + static_cast<std::size_t>(k) * W + c);
      std::memcpy(column_sums + c, &s, sizeof s);
    }
    for (; c < W; ++c) {
      unsigned char s = 0;
      for (int k = 0; k < 5; ++k) s += top[static_cast<std::size_t>(k) * W + c] < LABEL_FILTERED_FOREGROUND;
      column_sums[c] = s;
    }
    const std::size_t base = static_cast<std::size_t>(row) * W;
    const unsigned char* label = in + base;
    const unsigned char* mask = search_mask + base;
    c = 2;
    for (; c + 16 <= W - 2; c += 16) {
      const u16b count = load16(column_sums + c - 2) + load16(column_sums + c - 1) + load16(column_sums + c) +
                         load16(column_sums + c + 1) + load16(column_sums + c + 2);
      const u16b l = load16(label + c);
      const u16b many = reinterpret_cast<u16b>(count > twelve);
      const u16b kept =
          pick(reinterpret_cast<u16b>(l == splat(LABEL_FOREGROUND)), splat(LABEL_FILTERED_FOREGROUND), l);
      const u16b dropped = pick(reinterpret_cast<u16b>(l == splat(LABEL_SHADOW)), splat(LABEL_SHADOW),
                                splat(LABEL_FOREGROUND));
      const u16b labelled = pick(many, kept, dropped);
      const u16b in_area = reinterpret_cast<u16b>(load16(mask + c) != splat(0));
      const u16b result = pick(in_area, labelled, load16(dst + c));
      std::memcpy(dst + c, &result, sizeof result);
    }
    for (; c < W - 2; ++c) {
      if (mask[c] == 0) continue;
      const int count =
          column_sums[c - 2] + column_sums[c - 1] + column_sums[c] + column_sums[c + 1] + column_sums[c + 2];
      dst[c] = coherence_label(count, 12, label[c]);
    }
  }
}

void filter_interior_rows(const unsigned char* search_mask, int W, const unsigned char* in,
                          unsigned char* out, int row_begin, int row_end, unsigned char* column_sums) {
  for (int row = row_begin; row < row_end; ++row)
    filter_interior_row(search_mask, W, in, out + static_cast<std::size_t>(row) * W, row, column_sums);
}

}  // namespace

void segment_frame_parallel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                            const LabelView& labels, float threshold) {
  const int H = frame.height;
  const int W = frame.width;
  if (H <= 0 || W <= 0) return;
  // Only the cone and RGB distances are computed in vectors.
  if (s.colour_mode == 2) {
    segment_frame(s, frame, model, labels, threshold);
    return;
  }
  run_split(s.run.workers, H, 8, [&](int begin, int end) {
    segment_rows_parallel(s, frame, model, labels, threshold, begin, end);
  });
}

void segment_rows_parallel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                           const LabelView& labels, float threshold, int row_begin, int row_end) {
  const std::size_t begin = static_cast<std::size_t>(row_begin) * frame.width,
                    end = static_cast<std::size_t>(row_end) * frame.width;
  const PlaneSet<float> frame_planes = frame.planes;
  PlaneSet<float>* bg_model = model.layers;
  const int n = model.count;
  unsigned char* seg_mask = labels.segmented;
  int* match_index = labels.match_index;
#ifdef HAVE_WIDE_SEGMENTATION
  if (s.run.wide) {
    segment_span_wide(s, frame_planes, bg_model, seg_mask, n, threshold, match_index, begin, end);
    return;
  }
#endif
  segment_span(s, frame_planes, bg_model, seg_mask, n, threshold, match_index, begin, end);
}

void coherence_filter_row_parallel(const ModelSettings& s, int H, int W, const unsigned char* in,
                                   unsigned char* out_row, int x, unsigned char* column_sums) {
  if (H >= 5 && W >= 5 && x >= 2 && x <= H - 3)
    filter_interior_row(s.search_mask, W, in, out_row, x, column_sums);
  coherence_filter_edges_row(s, H, W, in, out_row, x);
}

void coherence_filter_parallel(const ModelSettings& s, int H, int W, const unsigned char* in,
                               unsigned char* out) {
  if (H <= 0 || W <= 0) return;
  if (H >= 5 && W >= 5) {
    run_split(s.run.workers, H - 4, 16, [&](int begin, int end) {
      thread_local std::vector<unsigned char> column_sums;
      if (column_sums.size() < static_cast<std::size_t>(W)) column_sums.resize(W);
      filter_interior_rows(s.search_mask, W, in, out, begin + 2, end + 2, column_sums.data());
    });
  }
  coherence_filter_edges(s, H, W, in, out);
}

}  // namespace strellix
