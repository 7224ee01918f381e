// The fast numeric mode: the same masks, state and rendering whatever the
// threads and the vector build, masks close to the exact mode's, states
// that resume exactly and refuse the other mode, its colour conversion,
// segmentation and calibration against the exact ones, and frames it must
// take or refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "colour/model_space.h"
#include "core/settings.h"
#include "core/worker_pool.h"
#include "engine/engine.h"
#include "engine/pass_table.h"
#include "fast_mode/calibration_sweep.h"
#include "fast_mode/fast_model.h"
#include "fast_mode/row_kernels.h"
#include "fast_mode/update_weights.h"
#include "model/best_match.h"
#include "model/calibration_pass.h"
#include "model/model_store.h"
#include "strellix/strellix.hpp"
#include "support/frames.h"
#include "support/scratch_dir.h"

using strellix::Numerics;
using strellix::Parameters;

namespace {

// A smooth background that brightens by a level a frame (so that a model
// which stops learning soon calls all of it foreground), a block crossing
// it, a darker band (a shadow) and a patch that flickers between two
// colours (a second background mode).
std::vector<cv::Mat> scene(int count, int width, int height) {
  std::vector<cv::Mat> frames;
  for (int t = 0; t < count; ++t) {
    cv::Mat f(height, width, CV_8UC3);
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c)
        f.at<cv::Vec3b>(r, c) = cv::Vec3b(static_cast<uchar>(60 + (r + c) / 4 + t % 3 + t),
                                          static_cast<uchar>(90 + (2 * r + c) / 6 + t),
                                          static_cast<uchar>(80 + (2 * c + r) / 8 + t));
    const int x = (t * 3) % width;
    cv::Mat shadow = f(cv::Rect(0, height / 2, width, height / 6));
    shadow.convertTo(shadow, -1, 0.8);
    paint_rect(f, x, height / 3, 10, 10, cv::Vec3b(20, 200, 240));
    paint_rect(f, 2, 2, 8, 6, t % 2 == 0 ? cv::Vec3b(200, 40, 40) : cv::Vec3b(40, 40, 200));
    frames.push_back(f);
  }
  return frames;
}

Parameters fast_parameters(Parameters p = {}) {
  p.numerics = Numerics::fast;
  return p;
}

// Every mask of the sequence, the rendering, and the state's tables (the
// layers, labels, rate and last frame: the saved state after its header,
// which records the threads), as bytes.
std::vector<unsigned char> outcome(strellix::Engine& engine, const std::vector<cv::Mat>& frames) {
  engine.initialize_background(frames.front());
  std::vector<unsigned char> bytes;
  cv::Mat mask;
  for (const cv::Mat& f : frames) {
    engine.apply(f);
    engine.mask(mask);
    bytes.insert(bytes.end(), mask.datastart, mask.dataend);
  }
  const cv::Mat background = engine.background();
  bytes.insert(bytes.end(), background.datastart, background.dataend);
  std::vector<unsigned char> state;
  engine.save([&](const unsigned char* data, std::size_t size) {
    state.insert(state.end(), data, data + size);
    return true;
  });
  bytes.insert(bytes.end(), state.begin() + 72, state.end() - 4);
  return bytes;
}

TEST(FastNumerics, SameMasksStateAndRenderingWhateverTheThreadsAndTheVectorBuild) {
  const std::vector<cv::Mat> frames = scene(24, 61, 47);
  // Window half-widths 1 (separable sums) and 2 (direct sums); 9 layers
  // take the general table lookups.
  for (const Parameters& base : {Parameters{}, Parameters{5, 1, 2}, Parameters{9, 2, 1}}) {
    std::vector<unsigned char> first;
    for (const strellix::PassSet* set : strellix::pass_sets()) {
      if (set->numerics != Numerics::fast) continue;
      for (int threads : {1, 3}) {
        Parameters p = fast_parameters(base);
        p.threads = threads;
        strellix::Engine engine(p, *set);
        const std::vector<unsigned char> got = outcome(engine, frames);
        if (first.empty()) first = got;
        EXPECT_EQ(got, first) << set->name << ", " << threads << " threads, " << p.layers << " layers, "
                              << p.width_2d;
      }
    }
  }
}

// The fast mode computes differently, so masks may differ at a few pixels
// near the threshold, never by much: a fault in the conversion, the
// matching or the learning shows as thousands of pixels.
TEST(FastNumerics, MasksStayCloseToTheExactMode) {
  const std::vector<cv::Mat> frames = scene(90, 96, 72);
  Parameters p;
  p.threads = 1;
  strellix::Subtractor exact(p), fast(fast_parameters(p));
  exact.initialize_background(frames.front());
  fast.initialize_background(frames.front());
  long long differ = 0, foreground = 0;
  cv::Mat exact_mask, fast_mask;
  for (const cv::Mat& f : frames) {
    exact.apply(f, exact_mask);
    fast.apply(f, fast_mask);
    differ += cv::countNonZero(exact_mask != fast_mask);
    foreground += cv::countNonZero(exact_mask);
  }
  ASSERT_GT(foreground, 60 * 80);  // the block is found
  EXPECT_LE(differ, foreground / 1000);
  // The renderings differ by a rounding, and where the two modes' layers
  // have learnt the moving block and the flickering patch differently.
  cv::Mat difference;
  cv::absdiff(exact.background(), fast.background(), difference);
  const cv::Mat values = difference.reshape(1);
  EXPECT_LE(cv::countNonZero(values > 2), static_cast<int>(values.total()) / 20);
}

// Saved in the calibration stretch and in the online stretch, loaded and
// carried on (frames prepared ahead): the masks and the rendering of the
// run that never stopped. A fast state does not load as exact, nor an
// exact one as fast.
TEST(FastNumerics, StatesResumeExactlyAndRefuseTheOtherMode) {
  ScratchDir dir("fast_state");
  const std::vector<cv::Mat> frames = scene(40, 33, 21);
  strellix::Subtractor straight(fast_parameters());
  straight.initialize_background(frames.front());
  const std::vector<cv::Mat> expected = run_masks(straight, frames, 0, frames.size());
  for (std::size_t stop : {std::size_t{3}, std::size_t{20}}) {
    strellix::Subtractor first(fast_parameters());
    first.initialize_background(frames.front());
    run_masks(first, frames, 0, stop);
    const std::string path = dir.path("fast" + std::to_string(stop));
    first.save(path);
    strellix::Subtractor resumed = strellix::Subtractor::load(path, Numerics::fast);
    EXPECT_EQ(resumed.parameters().numerics, Numerics::fast);
    EXPECT_EQ(resumed.implementation().compare(0, 5, "fast-"), 0) << resumed.implementation();
    EXPECT_EQ(resumed.frames_applied(), static_cast<long long>(stop));
    EXPECT_TRUE(same_pixels(resumed.background(), first.background()));
    strellix::PreparedFrame ahead;
    cv::Mat mask;
    for (std::size_t k = stop; k < frames.size(); ++k) {
      resumed.prepare(frames[k], ahead);
      resumed.apply(ahead, mask);
      EXPECT_TRUE(same_pixels(mask, expected[k])) << "frame " << k << " after a stop at " << stop;
    }
  }
  strellix::Subtractor exact;
  exact.initialize_background(frames.front());
  exact.save(dir.path("exact"));
  EXPECT_THROW(strellix::Subtractor::load(dir.path("fast3"), Numerics::exact), std::runtime_error);
  EXPECT_THROW(strellix::Subtractor::load(dir.path("exact"), Numerics::fast), std::runtime_error);
  EXPECT_EQ(strellix::Subtractor::load(dir.path("exact"), Numerics::exact).parameters().numerics,
            Numerics::exact);
}

// The conversion by polynomials against the exact one, over a grid of
// colours and every grey: within a twentieth of a model unit, a few
// roundings of a float.
TEST(FastNumerics, ConversionGivesTheExactConeCoordinates) {
  std::vector<cv::Vec3b> list;
  for (int b = 0; b < 256; b += 15)
    for (int g = 0; g < 256; g += 15)
      for (int r = 0; r < 256; r += 15) list.emplace_back(b, g, r);
  for (int v = 0; v < 256; ++v) list.emplace_back(v, v, v);
  list.emplace_back(0, 0, 255);
  list.emplace_back(255, 0, 255);
  const cv::Mat row(1, static_cast<int>(list.size()), CV_8UC3, list.data());
  const int W = row.cols;
  std::vector<unsigned char> search(W, 255);
  strellix::ModelSettings s;
  s.search_mask = search.data();
  strellix::Planes<float> exact(3, W);
  strellix::frame_to_model(s, row, W, exact.get());
  const int stride = (W + 15) / 16 * 16;
  for (bool wide : {false, true}) {
    std::vector<float> x(stride), y(stride), z(stride);
    strellix::fast::row_kernels(wide).convert(row.ptr<unsigned char>(0), W, x.data(), y.data(), z.data());
    for (int i = 0; i < W; ++i) {
      const float* got[3] = {&x[i], &y[i], &z[i]};
      for (int k = 0; k < 3; ++k)
        ASSERT_NEAR(*got[k], exact[k][i] * strellix::fast::UNIT, 0.05)
            << "colour " << i << " coordinate " << k;
    }
  }
}

// The segmentation against the exact search, on pixels whose layers are
// near copies, darker copies and hue or saturation shifts of them: the
// same labels and layers but where a distance or a bound falls within a
// rounding of its limit (a bound off by a few hundredths shows as dozens).
TEST(FastNumerics, SegmentationDecidesAsTheExactSearch) {
  constexpr int layers = 5, width = 4096;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<short> model(static_cast<std::size_t>(3 * layers) * width);
  strellix::Planes<float> frame(3, width);
  std::vector<strellix::Planes<float>> exact_layers;
  for (int j = 0; j < layers; ++j) exact_layers.emplace_back(3, width);
  std::vector<strellix::PlaneSet<float>> exact_model;
  for (auto& l : exact_layers) exact_model.push_back(l.get());
  auto cone = [](float hue, float saturation, float value, float* out) {
    const double h = hue * 3.14159265358979 / 180.0;
    out[0] = static_cast<float>(std::cos(h) * saturation * value);
    out[1] = static_cast<float>(std::sin(h) * saturation * value);
    out[2] = value;
  };
  for (int i = 0; i < width; ++i) {
    const float hue = 360.0f * unit(random), saturation = unit(random), value = 0.1f + 0.9f * unit(random);
    float p[3];
    cone(hue, saturation, value, p);
    for (int k = 0; k < 3; ++k) frame[k][i] = p[k];
    for (int j = 0; j < layers; ++j) {
      float l[3];
      cone(hue + 24.0f * (unit(random) - 0.5f), std::min(1.0f, saturation + 0.24f * (unit(random) - 0.5f)),
           std::min(1.0f, value * (0.6f + 0.8f * unit(random))), l);
      for (int k = 0; k < 3; ++k) {
        const float near = unit(random) < 0.3f ? 0.0f : 0.1f * (unit(random) - 0.5f);
        const short units = static_cast<short>(std::lround((l[k] + near) * strellix::fast::UNIT));
        model[strellix::fast::model_offset(layers, 3 * j + k, i)] = units;
        exact_layers[j][k][i] = units / strellix::fast::UNIT;
      }
    }
  }
  std::vector<float> units[3];
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < width; ++i) units[k].push_back(frame[k][i] * strellix::fast::UNIT);
  std::vector<unsigned char> labels(width);
  std::vector<signed char> match(width);
  const float threshold = 0.005f;
  strellix::fast::SegmentRow row;
  row.model = model.data();
  row.x = units[0].data();
  row.y = units[1].data();
  row.z = units[2].data();
  row.stride = row.width = width;
  row.layers = layers;
  row.threshold = threshold * strellix::fast::UNIT * strellix::fast::UNIT;
  row.labels = labels.data();
  row.match = match.data();
  strellix::ModelSettings s;
  int agree = 0, matched = 0, shadows = 0;
  for (bool wide : {false, true}) {
    strellix::fast::row_kernels(wide).segment(row);
    for (int i = 0; i < width; ++i) {
      int layer = -1;
      const int result = strellix::find_best_match(s, frame[0][i], frame[1][i], frame[2][i],
                                                   exact_model.data(), i, layers, threshold, layer);
      const unsigned char label = result == strellix::MATCH_FOUND    ? 0
                                  : result == strellix::MATCH_SHADOW ? 85
                                                                     : 255;
      agree += labels[i] == label && match[i] == layer;
      matched += label == 0;
      shadows += label == 85;
    }
  }
  EXPECT_GT(matched, width / 10);  // the cases all occur
  EXPECT_GT(shadows, width / 10);
  EXPECT_GE(agree, 2 * width - 8);
}

// The calibration sweep against the exact one, from the same model (five
// different layers, so that no tie hides a difference) and the same last
// labels: every pixel matched in place as the sweep leaves the model, its
// window blended where the labels (this frame's so far, the last frame's
// after) say background and cut at the edges as the exact window is, its
// value blended across layers; on one thread and as a wavefront on three.
TEST(FastNumerics, CalibrationSweepsAsTheExactPass) {
  constexpr int W = 37, H = 23, N = W * H, layers = 5;
  const float rate = 0.190625f, learning_rate = 0.05f;
  std::mt19937 random(11);
  std::uniform_int_distribution<int> byte(0, 255), noise(-3, 3), choice(0, 9);
  // Layer colours at random, the frame near one of them, or darker, or far.
  std::vector<cv::Mat> layer_colours;
  for (int j = 0; j < layers; ++j) {
    cv::Mat l(H, W, CV_8UC3);
    for (int i = 0; i < N; ++i)
      l.at<cv::Vec3b>(i / W, i % W) = cv::Vec3b(byte(random), byte(random), byte(random));
    layer_colours.push_back(l);
  }
  cv::Mat frame(H, W, CV_8UC3);
  std::vector<unsigned char> last_labels(N);
  for (int i = 0; i < N; ++i) {
    const int pick = choice(random);
    cv::Vec3b v = layer_colours[pick % layers].at<cv::Vec3b>(i / W, i % W);
    for (int k = 0; k < 3; ++k)
      v[k] = cv::saturate_cast<uchar>(pick == 9   ? byte(random)
                                      : pick == 8 ? v[k] * 4 / 5
                                                  : v[k] + noise(random));
    frame.at<cv::Vec3b>(i / W, i % W) = v;
    last_labels[i] = choice(random) < 7 ? 0 : 255;
  }
  // The exact model and pass.
  std::vector<unsigned char> search(N, 255);
  float* kernel_1d = strellix::make_kernel_1d(3);
  strellix::PlaneSet<float> kernel_2d = strellix::make_kernel_2d(3);
  strellix::Planes<float> rates(3, 3);
  strellix::scale_matrix(3, rate, kernel_2d, rates.get());
  strellix::ModelSettings s;
  s.search_mask = search.data();
  s.kernel_1d = kernel_1d;
  strellix::PlaneSet<float>* exact = strellix::alloc_model(layers, N);
  for (int j = 0; j < layers; ++j) strellix::frame_to_model(s, layer_colours[j], N, exact[j]);
  // The same layers in the fast model's units.
  std::vector<short> start(static_cast<std::size_t>(3 * layers) * 48 * H);
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < layers; ++j)
      for (int k = 0; k < 3; ++k)
        start[static_cast<std::size_t>(i / W) * 3 * layers * 48 +
              strellix::fast::model_offset(layers, 3 * j + k, i % W)] =
            static_cast<short>(std::lround(exact[j][k][i] * strellix::fast::UNIT));
  strellix::Planes<float> frame_planes(3, N);
  strellix::frame_to_model(s, frame, N, frame_planes.get());
  std::vector<unsigned char> exact_labels = last_labels;
  strellix::calibration_pass(s, strellix::FrameView{frame_planes.get(), H, W},
                             strellix::ModelView{exact, layers, rates.get(), 3}, exact_labels.data(),
                             strellix::calibration_threshold);
  const strellix::fast::UpdateWeights weights =
      strellix::fast::make_update_weights(layers, 3, kernel_1d, 3, kernel_2d, learning_rate);
  std::vector<float> window(9);
  for (int i = 0; i < 9; ++i) window[i] = static_cast<float>(static_cast<double>(rate) * weights.kernel[i]);
  strellix::WorkerPool three(3);
  for (strellix::WorkerPool* pool : {static_cast<strellix::WorkerPool*>(nullptr), &three}) {
    std::vector<short> model = start;
    std::vector<unsigned char> labels = last_labels;
    std::vector<signed char> match(N);
    const strellix::fast::SweepTarget t{
        W,
        H,
        48,
        layers,
        1,
        model.data(),
        labels.data(),
        match.data(),
        window.data(),
        weights.one_d.data(),
        strellix::calibration_threshold * strellix::fast::UNIT * strellix::fast::UNIT};
    strellix::fast::calibration_sweep(t, strellix::fast::row_kernels(true), pool, frame);
    int same_labels = 0, close_values = 0, learnt = 0;
    for (int i = 0; i < N; ++i) {
      same_labels += labels[i] == exact_labels[i];
      learnt += labels[i] == 0;
      for (int j = 0; j < layers; ++j)
        for (int k = 0; k < 3; ++k) {
          const short v = model[static_cast<std::size_t>(i / W) * 3 * layers * 48 +
                                strellix::fast::model_offset(layers, 3 * j + k, i % W)];
          close_values += std::abs(v - exact[j][k][i] * strellix::fast::UNIT) <= 2.0f;
        }
    }
    EXPECT_GT(learnt, N / 2);
    EXPECT_GE(same_labels, N - 2);
    EXPECT_GE(close_values, 15 * N - 30);
  }
  strellix::free_model(exact, layers);
  strellix::free_planes(kernel_2d, 3);
  std::free(kernel_1d);
}

TEST(FastNumerics, TakesFramesOfAnySizeAndRefusesWhatDoesNotFit) {
  for (const cv::Size size :
       {cv::Size(1, 1), cv::Size(2, 3), cv::Size(5, 4), cv::Size(17, 9), cv::Size(33, 2)}) {
    const std::vector<cv::Mat> frames = scene(9, size.width, size.height);
    strellix::Subtractor s(fast_parameters());
    s.initialize_background(frames[0]);
    run_masks(s, frames, 0, frames.size());
    EXPECT_EQ(s.frames_applied(), 9);
    EXPECT_EQ(s.background().size(), size);
  }
  strellix::Subtractor s(fast_parameters());
  cv::Mat mask;
  EXPECT_THROW(s.apply(solid_frame(8, 8, cv::Vec3b(1, 2, 3)), mask), std::logic_error);
  s.initialize_background(solid_frame(8, 8, cv::Vec3b(1, 2, 3)));
  EXPECT_THROW(s.apply(solid_frame(9, 8, cv::Vec3b(1, 2, 3)), mask), std::invalid_argument);
  EXPECT_EQ(s.frames_applied(), 0);
  Parameters many = fast_parameters();
  many.layers = strellix::fast::MAX_LAYERS + 1;
  EXPECT_THROW(strellix::Subtractor{many}, std::invalid_argument);
}

}  // namespace
