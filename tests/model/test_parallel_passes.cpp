#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "colour/cached_model_space.h"
#include "core/settings.h"
#include "core/vector_width.h"
#include "core/worker_pool.h"
#include "model/calibration_pass.h"
#include "model/model_store.h"
#include "model/parallel_passes.h"
#include "model/segmentation.h"
#include "model/selective_update.h"
#include "support/owned_planes.h"
#include "support/test_settings.h"

using namespace strellix;

namespace {

struct Point {
  float x, y, z;
};

Point colour_point(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  const int r = byte(rng), g = byte(rng), b = byte(rng);
  Point p;
  colour_to_cone_xy(r, g, b, p.x, p.y);
  p.z = static_cast<float>(std::max({r, g, b}) * static_cast<double>(1.0f / 255.0f));
  return p;
}

void put(OwnedModel& l, int layer, std::size_t p, Point v) {
  l.set(layer, p, v.x, v.y, v.z);
}

// The threshold at which the scene's exact cases sit: a squared distance
// of 2^-8, which a z difference of 2^-4 gives without rounding.
constexpr float EXACT_THRESHOLD = 0.00390625f;

// A model and a frame with every case the segmentation meets: pixels close
// to one layer, to several (ties, exact copies), darker copies of a layer
// (shadows), unrelated colours, black layers and values that are not
// numbers; and pixels exactly on the bounds: at EXACT_THRESHOLD from a
// layer, and darker than a layer by exactly the lowest or the highest value
// ratio of a shadow.
void make_scene(std::mt19937& rng, int n, std::size_t count, OwnedModel& model, OwnedModel& frame) {
  std::uniform_real_distribution<float> noise(-0.03f, 0.03f);
  std::uniform_int_distribution<int> kind(0, 16);
  std::uniform_int_distribution<int> pick_layer(0, n - 1);
  for (std::size_t p = 0; p < count; ++p) {
    const Point base = colour_point(rng);
    for (int j = 0; j < n; ++j) {
      Point v = base;
      if (j % 2 == 1) v = colour_point(rng);
      v.x += noise(rng);
      v.z += noise(rng);
      put(model, j, p, v);
    }
    const int layer = pick_layer(rng);
    Point f = {model.at(layer, 0, p), model.at(layer, 1, p), model.at(layer, 2, p)};
    switch (kind(rng)) {
      case 0:
      case 1:
      case 2:
        f.x += noise(rng) * 0.5f;
        f.y += noise(rng) * 0.5f;
        break;
      case 3:
        f = colour_point(rng);
        break;
      case 4:
      case 5:
        f = {f.x * 0.8f, f.y * 0.8f, f.z * 0.8f};
        break;  // shadow
      case 6:   // two identical layers, the frame on them
        if (n > 1) put(model, (layer + 1) % n, p, f);
        break;
      case 7:
        put(model, layer, p, {0.0f, 0.0f, 0.0f});
        f = {0.0f, 0.0f, 0.0f};
        break;
      case 8:
        if (p % 7 == 0) model.at(layer, 1, p) = std::nanf("");
        break;
      case 10:  // a darker pixel across the zero hue from its layer
        put(model, layer, p, {0.5f, -0.004f, 0.8f});
        f = {0.425f, 0.003f, 0.68f};
        break;
      case 11:  // exactly at the threshold
        put(model, layer, p, {0.0f, 0.0f, 0.5625f});
        f = {0.0f, 0.0f, 0.5f};
        break;
      case 12:  // value ratio exactly the lowest a shadow may have
        put(model, layer, p, {0.0f, 0.0f, 1.0f});
        f = {0.0f, 0.0f, 0.7f};
        break;
      case 13:  // value ratio exactly 1, too far for a match, close in hue and saturation
        put(model, layer, p, {0.42f, 0.0f, 1.0f});
        f = {0.5f, 0.0f, 1.0f};
        break;
      case 9:  // two layers at the same distance with the offsets swapped
        if (n > 1) {
          const float a = noise(rng), c = noise(rng);
          f.z = f.x;
          put(model, layer, p, {f.x + a, f.y + c, f.x + c});
          put(model, (layer + 1) % n, p, {f.x + c, f.y + c, f.x + a});
        }
        break;
      default:
        break;
    }
    put(frame, 0, p, f);
  }
}

// A search mask of `count` pixels, with holes in about a sixth of them.
void make_mask(TestSettings& settings, std::mt19937& rng, std::size_t count, bool holes) {
  settings.reset_mask(count);
  if (holes) {
    std::uniform_int_distribution<int> d(0, 5);
    for (std::size_t p = 0; p < count; ++p)
      if (d(rng) == 0) settings.mask(p) = 0;
  }
}

struct Size {
  int H, W;
};
const Size kSizes[] = {{1, 1}, {2, 3}, {3, 3}, {4, 4}, {4, 9}, {9, 4}, {5, 5}, {6, 7}, {37, 23}, {64, 48}};

std::string describe(Size s, int n) {
  return std::to_string(s.H) + "x" + std::to_string(s.W) + " n=" + std::to_string(n);
}

TEST(ParallelSegmentFrame, SameLabelsAndLayersAsThePlainPass) {
  WorkerPool two(2), three(3);
  WorkerPool* const pools[] = {nullptr, &two, &three};
  std::mt19937 rng(11);
  for (int mode : {3, 1, 2}) {
    for (Size s : kSizes) {
      for (int n : {1, 2, 5, 7}) {
        const std::size_t count = static_cast<std::size_t>(s.H) * s.W;
        OwnedModel model(n, count), frame(1, count);
        make_scene(rng, n, count, model, frame);
        TestSettings settings(count);
        make_mask(settings, rng, count, n == 5);
        settings.s.colour_mode = mode;
        settings.s.use_shadow_test = n == 2 ? 0 : 1;
        for (int run = 0; run < 6; ++run) {
          // Both vector builds (where the processor has both), 1-3 threads.
          settings.s.run.workers = pools[run / 2];
          settings.s.run.wide = run % 2 == 1 && processor_has_avx2();
          for (float threshold : {0.005f, EXACT_THRESHOLD}) {
            std::vector<unsigned char> seg_plain(count, 42), seg_fast(count, 42);
            std::vector<int> match_plain(count, 99), match_fast(count, 99);
            const FrameView f{frame.layer(0), s.H, s.W};
            const ModelView m{model.get(), n};
            segment_frame(settings.s, f, m, LabelView{seg_plain.data(), nullptr, match_plain.data()},
                          threshold);
            segment_frame_parallel(settings.s, f, m, LabelView{seg_fast.data(), nullptr, match_fast.data()},
                                   threshold);
            ASSERT_TRUE(same_bits(seg_plain, seg_fast))
                << describe(s, n) << " mode " << mode << " " << threshold;
            ASSERT_TRUE(same_bits(match_plain, match_fast)) << describe(s, n) << " mode " << mode;
          }
        }
      }
    }
  }
}

// Labels of every kind, some in blobs, and an output buffer holding old
// labels that the pixels outside the regions and the search area keep.
TEST(ParallelCoherenceFilter, SameOutputAsThePlainFilter) {
  WorkerPool two(2), three(3);
  WorkerPool* const pools[] = {nullptr, &two, &three};
  std::mt19937 rng(5);
  const unsigned char labels[] = {0, 0, 0, 0, 85, 170, 255, 255, 255, 7};
  std::uniform_int_distribution<int> pick(0, 9);
  std::vector<Size> sizes(std::begin(kSizes), std::end(kSizes));
  sizes.push_back({5, 40});
  sizes.push_back({40, 5});
  sizes.push_back({33, 70});
  for (Size s : sizes) {
    for (int variant = 0; variant < 4; ++variant) {
      const std::size_t count = static_cast<std::size_t>(s.H) * s.W;
      std::vector<unsigned char> in(count), old(count);
      for (std::size_t p = 0; p < count; ++p) {
        // Runs of equal labels give counts near the thresholds.
        in[p] = (variant == 0 || p == 0 || pick(rng) < 3) ? labels[pick(rng)] : in[p - 1];
        old[p] = labels[pick(rng)];
      }
      if (variant == 3) std::fill(in.begin(), in.end(), 0);
      TestSettings settings(count);
      make_mask(settings, rng, count, variant == 1);
      for (WorkerPool* pool : pools) {
        settings.s.run.workers = pool;
        std::vector<unsigned char> plain = old, fast = old;
        coherence_filter(settings.s, s.H, s.W, in.data(), plain.data());
        coherence_filter_parallel(settings.s, s.H, s.W, in.data(), fast.data());
        ASSERT_TRUE(same_bits(plain, fast)) << s.H << "x" << s.W << " variant " << variant;
      }
    }
  }
}

// Filtered labels and match indices of every kind, including indices that
// are -1 or past the last layer, over all kernel widths, with and without
// search-mask holes and rows above the first search row.
TEST(ParallelSelectiveUpdate, SameModelAsThePlainUpdate) {
  WorkerPool two(2);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> label_kind(0, 9);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const unsigned char labels[] = {0, 0, 0, 0, 0, 0, 85, 170, 255, 3};
  for (Size s : kSizes) {
    for (int n : {1, 5, 7}) {
      for (int w1d = 0; w1d <= 3; ++w1d) {
        for (int width_2d : {0, 1, 2, 3, 4, 5, 7, 9}) {
          const std::size_t count = static_cast<std::size_t>(s.H) * s.W;
          OwnedModel model(n, count), frame(1, count);
          for (float& v : model.data) v = unit(rng);
          for (float& v : frame.data) v = unit(rng);
          std::vector<unsigned char> filtered(count);
          std::vector<int> match(count);
          std::uniform_int_distribution<int> layer(-1, n);
          for (std::size_t p = 0; p < count; ++p) {
            filtered[p] = labels[label_kind(rng)];
            match[p] = layer(rng);
          }
          TestSettings settings(count, 2 * w1d + 1);
          make_mask(settings, rng, count, w1d == 2);
          settings.s.first_search_row = (w1d == 1 && s.H > 2) ? 2 : (w1d == 3 ? -1 : 0);
          settings.s.layer_count = n;
          OwnedPlanes weights(width_2d, width_2d);
          if (width_2d > 0) {
            PlaneSet<float> gauss = make_kernel_2d(width_2d);
            // Rates above 1 extrapolate; the replay must too.
            scale_matrix(width_2d, n == 7 ? 0.6f : 0.0123f, gauss, weights.get());
            free_planes(gauss, width_2d);
          }
          for (int run = 0; run < 4; ++run) {
            settings.s.run.workers = run / 2 == 0 ? nullptr : &two;
            settings.s.run.wide = run % 2 == 1 && processor_has_avx2();
            OwnedModel plain(model), fast(model);
            const FrameView f{frame.layer(0), s.H, s.W};
            const LabelView l{nullptr, filtered.data(), match.data()};
            selective_update(settings.s, f, ModelView{plain.get(), n, weights.get(), width_2d}, l);
            selective_update_parallel(settings.s, f, ModelView{fast.get(), n, weights.get(), width_2d}, l);
            ASSERT_TRUE(same_bits(plain.data, fast.data))
                << describe(s, n) << " w1d=" << w1d << " width_2d=" << width_2d;
          }
        }
      }
    }
  }
}

// Wide areas where nothing changes: foreground, and background whose
// pixels matched no layer, beside areas that learn.
TEST(ParallelSelectiveUpdate, AreasWithoutLearningBesideAreasWithIt) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const int H = 40, W = 130, n = 5;
  const std::size_t count = static_cast<std::size_t>(H) * W;
  OwnedModel model(n, count), frame(1, count);
  for (float& v : model.data) v = unit(rng);
  for (float& v : frame.data) v = unit(rng);
  std::vector<unsigned char> filtered(count, 0);
  std::vector<int> match(count);
  for (std::size_t p = 0; p < count; ++p) {
    const int col = static_cast<int>(p % W);
    match[p] = static_cast<int>(p % n);
    if (col < 45)
      filtered[p] = LABEL_FOREGROUND;
    else if (col < 90)
      match[p] = -1;
    else if (col % 7 == 0)
      filtered[p] = LABEL_SHADOW;
  }
  TestSettings settings(count);
  settings.s.layer_count = n;
  for (int width_2d : {3, 5}) {
    PlaneSet<float> gauss = make_kernel_2d(width_2d);
    OwnedPlanes weights(width_2d, width_2d);
    scale_matrix(width_2d, 0.03f, gauss, weights.get());
    free_planes(gauss, width_2d);
    OwnedModel plain(model), fast(model);
    const FrameView f{frame.layer(0), H, W};
    const LabelView l{nullptr, filtered.data(), match.data()};
    selective_update(settings.s, f, ModelView{plain.get(), n, weights.get(), width_2d}, l);
    selective_update_parallel(settings.s, f, ModelView{fast.get(), n, weights.get(), width_2d}, l);
    EXPECT_TRUE(same_bits(plain.data, fast.data)) << width_2d;
    EXPECT_FALSE(same_bits(plain.data, model.data));
  }
}

TEST(ParallelSelectiveUpdate, NothingToDoAtAllOrBelowTheImage) {
  OwnedModel model(1, 6), frame(1, 6);
  for (float& v : frame.data) v = 1.0f;
  std::vector<unsigned char> filtered(6, 0);
  std::vector<int> match(6, 0);
  TestSettings settings(6, 1);
  settings.s.layer_count = 1;
  OwnedPlanes weights(3, 3, 0.5f);
  const ModelView m{model.get(), 1, weights.get(), 3};
  const LabelView l{nullptr, filtered.data(), match.data()};
  settings.s.first_search_row = 2;
  selective_update_parallel(settings.s, FrameView{frame.layer(0), 2, 3}, m, l);
  selective_update_parallel(settings.s, FrameView{frame.layer(0), 0, 3}, m, l);
  settings.s.first_search_row = 0;
  selective_update_parallel(settings.s, FrameView{frame.layer(0), 2, 0}, m, l);
  EXPECT_TRUE(same_bits(model.data, OwnedModel(1, 6).data));
}

// Consecutive online frames as the frame loop runs them: segmentation,
// filter, update and the exchange of the two label buffers, the model
// carried from frame to frame, with a moving object over a learnt
// background; the parallel passes one after the other, and the fused pass
// (in bands of rows when there are threads), against the plain passes.
TEST(ParallelOnlineFrames, ConsecutiveFramesStayIdentical) {
  WorkerPool two(2), three(3);
  struct Case {
    Size size;
    int n, width_2d;
    WorkerPool* pool;
  };
  const Case cases[] = {{{4, 4}, 1, 3, &two},     {{9, 4}, 5, 3, nullptr},  {{37, 23}, 7, 5, &two},
                        {{60, 80}, 5, 3, &two},   {{60, 80}, 1, 9, &three}, {{41, 37}, 7, 1, &three},
                        {{23, 30}, 5, 5, &three}, {{64, 48}, 5, 7, nullptr}};
  for (const Case& c : cases) {
    const Size s = c.size;
    const int n = c.n, width_2d = c.width_2d;
    std::mt19937 rng(3 + n + width_2d);
    const std::size_t count = static_cast<std::size_t>(s.H) * s.W;
    OwnedModel start(n, count), frame(1, count);
    make_scene(rng, n, count, start, frame);
    TestSettings settings(count, n == 1 ? 1 : 3);
    make_mask(settings, rng, count, n == 7);
    settings.s.first_search_row = width_2d == 3 && n == 5 ? 1 : 0;
    settings.s.layer_count = n;
    settings.s.run.workers = c.pool;
    settings.s.run.wide = n != 7 && processor_has_avx2();
    PlaneSet<float> gauss = make_kernel_2d(width_2d);
    OwnedPlanes weights(width_2d, width_2d);
    scale_matrix(width_2d, 0.02f, gauss, weights.get());
    free_planes(gauss, width_2d);

    OwnedModel plain(start), fast(start), fused(start);
    std::vector<unsigned char> labels[6];
    for (auto& l : labels) l.assign(count, 0);
    std::vector<int> match_p(count), match_f(count), match_u(count);
    unsigned char *sp = labels[0].data(), *fp = labels[1].data(), *sf = labels[2].data(),
                  *ff = labels[3].data(), *su = labels[4].data(), *fu = labels[5].data();
    for (int t = 0; t < 5; ++t) {
      OwnedModel current(frame);
      std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
      for (float& v : current.data) v += jitter(rng);
      // A bright square moving right, partly beyond the frame.
      for (int r = s.H / 4; r < s.H / 4 + 3 && r < s.H; ++r)
        for (int col = t * 2; col < t * 2 + 4 && col < s.W; ++col)
          put(current, 0, static_cast<std::size_t>(r) * s.W + col, {0.0f, 0.5f, 0.9f});
      const float threshold = t % 2 == 0 ? 0.005f : EXACT_THRESHOLD;
      const FrameView f{current.layer(0), s.H, s.W};
      const ModelView mp{plain.get(), n, weights.get(), width_2d}, mf{fast.get(), n, weights.get(), width_2d},
          mu{fused.get(), n, weights.get(), width_2d};
      const LabelView lp{sp, fp, match_p.data()}, lf{sf, ff, match_f.data()}, lu{su, fu, match_u.data()};
      segment_frame(settings.s, f, mp, lp, threshold);
      coherence_filter(settings.s, s.H, s.W, sp, fp);
      selective_update(settings.s, f, mp, lp);
      segment_frame_parallel(settings.s, f, mf, lf, threshold);
      coherence_filter_parallel(settings.s, s.H, s.W, sf, ff);
      selective_update_parallel(settings.s, f, mf, lf);
      const bool one_pass = fused_online_applies(settings.s, f, mu);
      if (one_pass) {
        online_pass_fused(settings.s, f, mu, lu, threshold);
      } else {
        segment_frame_parallel(settings.s, f, mu, lu, threshold);
        coherence_filter_parallel(settings.s, s.H, s.W, su, fu);
        selective_update_parallel(settings.s, f, mu, lu);
      }
      const std::string where = describe(s, n) + " width " + std::to_string(width_2d) + " frame " +
                                std::to_string(t) + (one_pass ? " fused" : "");
      ASSERT_EQ(0, std::memcmp(fp, ff, count)) << where;
      ASSERT_EQ(0, std::memcmp(fp, fu, count)) << where;
      ASSERT_TRUE(same_bits(match_p, match_f) && same_bits(match_p, match_u)) << where;
      ASSERT_TRUE(same_bits(plain.data, fast.data)) << where;
      ASSERT_TRUE(same_bits(plain.data, fused.data)) << where;
      std::swap(sp, fp);
      std::swap(sf, ff);
      std::swap(su, fu);
    }
  }
}

// Calibration frames in a row, each changing the model in place and read by
// the next: the wavefront over the threads against the raster sweep, with
// pixels exactly at the threshold, holes in the search area and rows above
// the first search row.
TEST(WavefrontCalibrationPass, SameLabelsAndModelAsTheRasterSweep) {
  WorkerPool two(2), three(3);
  struct Case {
    Size size;
    int n, width_2d;
    WorkerPool* pool;
  };
  const Case cases[] = {{{37, 23}, 5, 3, &two},  {{23, 41}, 7, 9, &three}, {{9, 60}, 1, 5, &two},
                        {{40, 6}, 5, 1, &three}, {{2, 3}, 2, 3, &two},     {{30, 30}, 5, 0, &two}};
  bool closer_differs = false;
  for (const Case& c : cases) {
    const Size s = c.size;
    std::mt19937 rng(29 + c.n + c.width_2d);
    const std::size_t count = static_cast<std::size_t>(s.H) * s.W;
    OwnedModel start(c.n, count), frame(1, count);
    make_scene(rng, c.n, count, start, frame);
    TestSettings settings(count, c.n == 1 ? 1 : 3);
    make_mask(settings, rng, count, c.n == 7);
    settings.s.first_search_row = c.width_2d == 9 ? 3 : 0;
    settings.s.layer_count = c.n;
    settings.s.run.workers = c.pool;
    OwnedPlanes weights(c.width_2d, c.width_2d);
    if (c.width_2d > 0) {
      PlaneSet<float> gauss = make_kernel_2d(c.width_2d);
      scale_matrix(c.width_2d, 0.19f, gauss, weights.get());
      free_planes(gauss, c.width_2d);
    }
    // The threads' timing decides how close the rows run; the skewed order
    // runs them as close as the lag allows, every time.
    const int lag = calibration_lag(c.width_2d);
    OwnedModel plain(start), fast(start), skewed(start), too_close(start);
    std::vector<unsigned char> labels[4];
    for (auto& l : labels) l.assign(count, 0);
    for (int t = 0; t < 3; ++t) {
      const float threshold = t == 1 ? EXACT_THRESHOLD : 0.005f;
      const FrameView f{frame.layer(0), s.H, s.W};
      auto view = [&](OwnedModel& m) { return ModelView{m.get(), c.n, weights.get(), c.width_2d}; };
      calibration_pass(settings.s, f, view(plain), labels[0].data(), threshold);
      calibration_pass_wavefront(settings.s, f, view(fast), labels[1].data(), threshold);
      calibration_pass_skewed(settings.s, f, view(skewed), labels[2].data(), threshold, lag);
      calibration_pass_skewed(settings.s, f, view(too_close), labels[3].data(), threshold, lag - 1);
      const std::string where =
          describe(s, c.n) + " width " + std::to_string(c.width_2d) + " frame " + std::to_string(t);
      ASSERT_TRUE(same_bits(labels[0], labels[1]) && same_bits(labels[0], labels[2])) << where;
      ASSERT_TRUE(same_bits(plain.data, fast.data)) << where;
      ASSERT_TRUE(same_bits(plain.data, skewed.data)) << where;
    }
    // One column closer, and some pixel reads a model its turn has not
    // reached yet: the skewed order does tell a wrong lag.
    closer_differs = closer_differs || !same_bits(plain.data, too_close.data);
  }
  EXPECT_TRUE(closer_differs);
}

}  // namespace
