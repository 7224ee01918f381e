// What a caller may ask of one frame and of the masks: a learning rate for
// this frame alone, shadow marked with a value of its own, a median filter
// of the mask; and state files that keep the mask options.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/settings.h"
#include "engine/engine.h"
#include "engine/pass_table.h"
#include "strellix/strellix.hpp"
#include "support/frames.h"
#include "support/scratch_dir.h"

namespace {

using strellix::Engine;
using strellix::Parameters;
using strellix::PassSet;

// An engine of the entry's numeric mode.
std::unique_ptr<Engine> seeded(const std::vector<cv::Mat>& frames, const PassSet& passes, Parameters p = {}) {
  p.median_frames = 12;
  p.numerics = passes.numerics;
  std::unique_ptr<Engine> engine(new Engine(p, passes));
  engine->initialize(frames);
  return engine;
}

cv::Mat mask_of(Engine& engine, const cv::Mat& frame, double learning_rate = -1.0) {
  engine.apply(frame, learning_rate);
  cv::Mat mask;
  engine.mask(mask);
  return mask;
}

std::vector<cv::Mat> masks_of(Engine& engine, const std::vector<cv::Mat>& frames,
                              double learning_rate = -1.0) {
  std::vector<cv::Mat> masks;
  for (const cv::Mat& f : frames) masks.push_back(mask_of(engine, f, learning_rate));
  return masks;
}

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// Frames given with rate 0 at the first frame, in the calibration stretch
// and online leave no trace: the other frames' masks and the saved state
// are those of the run without them, and an online frame's mask is the one
// it gets when it learns.
TEST(FrameLearningRate, ZeroSegmentsAndLeavesTheModelAsItWas) {
  const std::vector<cv::Mat> frames = scene_with_shadow(50);
  ScratchDir dir("rate0");
  for (const PassSet* set : strellix::pass_sets()) {
    const PassSet& passes = *set;
    std::unique_ptr<Engine> plain = seeded(frames, passes), looked = seeded(frames, passes);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (i == 0 || i == 2 || i == 30) {
        const cv::Mat looked_mask = mask_of(*looked, frames[(i + 9) % frames.size()], 0.0);
        if (i == 0) {
          EXPECT_EQ(cv::countNonZero(looked_mask), 0);
        }
      }
      const cv::Mat expected = mask_of(*plain, frames[i]);
      if (i >= 30) {
        EXPECT_TRUE(same_pixels(mask_of(*looked, frames[i], 0.0), expected)) << passes.name << ", " << i;
      }
      EXPECT_TRUE(same_pixels(mask_of(*looked, frames[i]), expected)) << passes.name << ", " << i;
    }
    EXPECT_EQ(looked->frames_applied(), plain->frames_applied());
    plain->save(dir.path("plain"));
    looked->save(dir.path("looked"));
    EXPECT_TRUE(file_bytes(dir.path("plain")) == file_bytes(dir.path("looked"))) << "the saved states differ";
  }
}

// A rate given with every frame gives the masks of a model configured with
// it (with one layer too, which has no calibration stretch); -1 is the
// configured rate; a rate above 1 or NaN is refused before anything moves.
TEST(FrameLearningRate, AGivenRateTeachesAsThatRateConfigured) {
  const std::vector<cv::Mat> frames = scene_with_shadow(60);
  for (const PassSet* set : strellix::pass_sets()) {
    const PassSet& passes = *set;
    for (int layers : {5, 1}) {
      Parameters configured, fast_learner;
      configured.layers = fast_learner.layers = layers;
      fast_learner.learning_rate = 0.3;
      std::unique_ptr<Engine> a = seeded(frames, passes, fast_learner),
                              b = seeded(frames, passes, configured), c = seeded(frames, passes, configured);
      const std::vector<cv::Mat> expected = masks_of(*a, frames);
      EXPECT_THROW(b->apply(frames[0], 1.5), std::invalid_argument);
      EXPECT_THROW(b->apply(frames[0], std::nan("")), std::invalid_argument);
      EXPECT_EQ(b->frames_applied(), 0);
      const std::vector<cv::Mat> given = masks_of(*b, frames, 0.3), slow = masks_of(*c, frames, -1.0);
      bool rate_matters = false;
      for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(same_pixels(given[i], expected[i]))
            << passes.name << ", " << layers << " layers, frame " << i;
        rate_matters = rate_matters || !same_pixels(slow[i], expected[i]);
      }
      EXPECT_TRUE(rate_matters);
    }
  }
}

// shadow_value marks exactly the pixels the model labels shadow and
// changes nothing else; post_median is OpenCV's median of the plain mask;
// together, the shadow marks sit only where the filtered mask is not
// moving, and turned back to 0 they give the filtered mask. In both
// numeric modes.
TEST(MaskOptions, ShadowValueAndPostMedianDeriveFromThePlainMask) {
  const std::vector<cv::Mat> frames = scene_with_shadow(60);
  Parameters shadow, median, both;
  shadow.shadow_value = both.shadow_value = 127;
  median.post_median = 5;
  both.post_median = 7;
  for (strellix::Numerics mode : {strellix::Numerics::exact, strellix::Numerics::fast}) {
    const PassSet& passes = strellix::pass_set_named("baseline", mode);
    std::unique_ptr<Engine> plain = seeded(frames, passes), with_shadow = seeded(frames, passes, shadow),
                            with_median = seeded(frames, passes, median),
                            with_both = seeded(frames, passes, both);
    int shadow_pixels = 0;
    for (const cv::Mat& f : frames) {
      const cv::Mat m = mask_of(*plain, f), s = mask_of(*with_shadow, f), med = mask_of(*with_median, f),
                    b = mask_of(*with_both, f);
      cv::Mat is_shadow(m.size(), CV_8UC1);
      for (int p = 0; p < static_cast<int>(m.total()); ++p)
        is_shadow.data[p] = plain->labels()[p] == strellix::LABEL_SHADOW ? 255 : 0;
      cv::Mat expected = m.clone();
      expected.setTo(127, is_shadow);
      EXPECT_TRUE(same_pixels(s, expected));
      shadow_pixels += cv::countNonZero(is_shadow);

      cv::Mat blurred;
      cv::medianBlur(m, blurred, 5);
      EXPECT_TRUE(same_pixels(med, blurred));
      cv::medianBlur(m, blurred, 7);
      expected = blurred.clone();
      expected.setTo(127, is_shadow & (blurred == 0));
      EXPECT_TRUE(same_pixels(b, expected));
    }
    EXPECT_GT(shadow_pixels, 100) << "the scene's shadow is found";
  }
}

// A state with mask options keeps them (format 2); one without them is
// written in format 1, which versions without mask options read. A fast
// state (format 3) keeps them too.
TEST(MaskOptions, KeptInTheStateFileThatOlderVersionsStillRead) {
  const std::vector<cv::Mat> frames = scene_with_shadow(40);
  ScratchDir dir("mask-state");
  Parameters options;
  options.shadow_value = 200;
  options.post_median = 3;
  Parameters fast = options;
  fast.numerics = strellix::Numerics::fast;
  for (const Parameters& p : {Parameters(), options, fast}) {
    strellix::Subtractor s(p);
    s.initialize(frames);
    cv::Mat mask;
    for (int i = 0; i < 20; ++i) s.apply(frames[i], mask);
    s.save(dir.path("state"));
    EXPECT_EQ(file_bytes(dir.path("state"))[12], p.numerics == strellix::Numerics::fast ? 3
                                                 : p.shadow_value == 0                  ? 1
                                                                                        : 2);
    strellix::Subtractor loaded = strellix::Subtractor::load(dir.path("state"));
    EXPECT_EQ(loaded.parameters().shadow_value, p.shadow_value);
    EXPECT_EQ(loaded.parameters().post_median, p.post_median);
    cv::Mat again;
    for (int i = 20; i < 40; ++i) {
      s.apply(frames[i], mask);
      loaded.apply(frames[i], again);
      EXPECT_TRUE(same_pixels(mask, again)) << i;
    }
  }
}
