#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/vector_width.h"
#include "core/worker_pool.h"
#include "model/temporal_median.h"

using namespace strellix;

namespace {

// frames[k][c][p]: value of channel c at pixel p in frame k.
using Frames = std::vector<std::vector<std::vector<unsigned char>>>;
using Image = std::vector<std::vector<unsigned char>>;  // [c][p]

Frames frames_from_pixels(const std::vector<std::vector<unsigned char>>& rgb_per_frame) {
  Frames frames;
  for (const auto& rgb : rgb_per_frame) {
    frames.push_back({{rgb[0]}, {rgb[1]}, {rgb[2]}});
  }
  return frames;
}

Image median_by_store(const Frames& frames, std::size_t pixels, const PassExecution& run = {}) {
  const int frame_count = static_cast<int>(frames.size());
  FrameStore* store = alloc_frame_store(frame_count, pixels);
  PlaneSet<unsigned char> planes = alloc_byte_planes(3, pixels);
  for (int k = 0; k < frame_count; ++k) {
    for (int c = 0; c < 3; ++c) {
      std::copy(frames[k][c].begin(), frames[k][c].end(), planes[c]);
    }
    store_frame(store, k, planes);
  }
  PlaneSet<unsigned char> result = alloc_byte_planes(3, pixels);
  compute_median(run, store, result);
  Image image(3);
  for (int c = 0; c < 3; ++c) {
    image[c].assign(result[c], result[c] + pixels);
  }
  free_planes(result, 3);
  free_planes(planes, 3);
  free_frame_store(store);
  EXPECT_EQ(store, nullptr);
  return image;
}

// The plain definition: sort the values, take the middle one or the floor
// of the mean of the two middle ones.
Image median_by_sorting(const Frames& frames, std::size_t pixels) {
  const std::size_t frame_count = frames.size();
  Image image(3, std::vector<unsigned char>(pixels));
  std::vector<unsigned char> values(frame_count);
  for (int c = 0; c < 3; ++c) {
    for (std::size_t p = 0; p < pixels; ++p) {
      for (std::size_t k = 0; k < frame_count; ++k) {
        values[k] = frames[k][c][p];
      }
      std::sort(values.begin(), values.end());
      const std::size_t half = frame_count / 2;
      image[c][p] = frame_count % 2 != 0 ? values[half]
                                         : static_cast<unsigned char>((values[half - 1] + values[half]) / 2);
    }
  }
  return image;
}

Image single_pixel(unsigned char r, unsigned char g, unsigned char b) {
  return {{r}, {g}, {b}};
}

// Draws frames from one of several value distributions, from uniform
// noise to a handful of values with many ties.
Frames random_frames(std::mt19937& rng, int frame_count, std::size_t pixels, int kind) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> few(0, 2);
  std::normal_distribution<double> noise(0.0, 3.0);
  std::vector<unsigned char> base(3 * pixels);
  for (auto& b : base) {
    b = static_cast<unsigned char>(byte(rng));
  }
  Frames frames(frame_count, Image(3, std::vector<unsigned char>(pixels)));
  for (int k = 0; k < frame_count; ++k) {
    for (int c = 0; c < 3; ++c) {
      for (std::size_t p = 0; p < pixels; ++p) {
        int v = 0;
        switch (kind) {
          case 0:
            v = byte(rng);
            break;  // uniform
          case 1:
            v = 100 + few(rng);
            break;  // three values
          case 2:
            v = few(rng) == 0 ? 0 : 255;
            break;  // extremes only
          case 3:
            v = base[c * pixels + p] + static_cast<int>(noise(rng));
            break;  // steady scene
          default:
            v = base[c * pixels + p];
            break;  // constant
        }
        frames[k][c][p] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      }
    }
  }
  return frames;
}

}  // namespace

TEST(TemporalMedian, SingleFrameIsItsOwnMedian) {
  EXPECT_EQ(median_by_store(frames_from_pixels({{3, 0, 255}}), 1), single_pixel(3, 0, 255));
}

TEST(TemporalMedian, EvenCountTakesTheFloorOfTheMiddleMean) {
  EXPECT_EQ(median_by_store(frames_from_pixels({{10, 0, 255}, {13, 1, 254}}), 1), single_pixel(11, 0, 254));
  EXPECT_EQ(median_by_store(frames_from_pixels({{10, 7, 7}, {200, 7, 9}, {30, 7, 9}, {40, 7, 250}}), 1),
            single_pixel(35, 7, 9));
}

TEST(TemporalMedian, OddCountTakesTheMiddleValue) {
  EXPECT_EQ(median_by_store(frames_from_pixels({{5, 1, 9}, {250, 1, 9}, {7, 2, 0}}), 1),
            single_pixel(7, 1, 9));
}

TEST(TemporalMedian, ChannelsAreIndependent) {
  EXPECT_EQ(median_by_store(frames_from_pixels({{0, 0, 255}, {0, 255, 0}, {255, 0, 0}}), 1),
            single_pixel(0, 0, 0));
}

TEST(TemporalMedian, FrameNumbersOutsideTheStoreAreIgnored) {
  FrameStore* store = alloc_frame_store(1, 2);
  PlaneSet<unsigned char> planes = alloc_byte_planes(3, 2);
  planes[0][1] = 42;
  store_frame(store, 0, planes);
  planes[0][1] = 99;
  store_frame(store, -1, planes);
  store_frame(store, 1, planes);
  PlaneSet<unsigned char> result = alloc_byte_planes(3, 2);
  compute_median({}, store, result);
  EXPECT_EQ(result[0][1], 42);
  free_planes(result, 3);
  free_planes(planes, 3);
  free_frame_store(store);
  free_frame_store(store);  // a second release is harmless
}

TEST(TemporalMedian, EmptyImagesAndMissingFrameCountsAreHarmless) {
  EXPECT_EQ(median_by_store(Frames(5, Image(3)), 0), Image(3));

  // No frames at all: treated as a single, all-zero frame.
  FrameStore* store = alloc_frame_store(0, 3);
  PlaneSet<unsigned char> result = alloc_byte_planes(3, 3);
  result[1][2] = 77;
  compute_median({}, store, result);
  EXPECT_EQ(result[1][2], 0);
  free_planes(result, 3);
  free_frame_store(store);
}

// Frames that were never stored count as all-zero frames.
TEST(TemporalMedian, FramesNeverStoredCountAsZero) {
  FrameStore* store = alloc_frame_store(3, 70);
  PlaneSet<unsigned char> planes = alloc_byte_planes(3, 70);
  for (int c = 0; c < 3; ++c) {
    std::fill(planes[c], planes[c] + 70, static_cast<unsigned char>(200));
  }
  store_frame(store, 0, planes);
  PlaneSet<unsigned char> result = alloc_byte_planes(3, 70);
  compute_median({}, store, result);  // 200, 0, 0
  EXPECT_EQ(result[1][69], 0);
  store_frame(store, 2, planes);
  compute_median({}, store, result);  // 200, 0, 200
  EXPECT_EQ(result[1][69], 200);
  free_planes(result, 3);
  free_planes(planes, 3);
  free_frame_store(store);
}

// Both counting builds (where the processor has both) on the same frames.
TEST(TemporalMedian, MatchesFullSortOnRandomFrames) {
  for (bool wide : {false, true}) {
    PassExecution run;
    run.wide = wide && processor_has_avx2();
    std::mt19937 rng(20260714);
    std::uniform_int_distribution<int> frame_count_of(1, 40);
    const std::size_t pixel_counts[] = {1, 2, 63, 64, 65, 127, 200, 1000};
    int trial = 0;
    for (std::size_t pixels : pixel_counts) {
      for (int kind = 0; kind < 5; ++kind) {
        for (int repeat = 0; repeat < 4; ++repeat, ++trial) {
          const int frame_count = frame_count_of(rng);
          const Frames frames = random_frames(rng, frame_count, pixels, kind);
          ASSERT_EQ(median_by_store(frames, pixels, run), median_by_sorting(frames, pixels))
              << "trial " << trial << ": F = " << frame_count << ", pixels = " << pixels << ", distribution "
              << kind << (wide ? ", wide" : ", narrow");
        }
      }
    }
  }
}

TEST(TemporalMedian, MatchesFullSortBeyondTheByteCounterRange) {
  // More frames than a byte can count, odd and even, with many ties.
  std::mt19937 rng(7);
  for (int frame_count : {255, 256, 511, 600}) {
    PassExecution run;
    run.wide = frame_count % 2 == 0 && processor_has_avx2();
    for (int kind : {0, 1, 2}) {
      const Frames frames = random_frames(rng, frame_count, 70, kind);
      ASSERT_EQ(median_by_store(frames, 70, run), median_by_sorting(frames, 70))
          << "F = " << frame_count << ", distribution " << kind;
    }
    const Frames saturated(frame_count, Image(3, std::vector<unsigned char>(3, 255)));
    EXPECT_EQ(median_by_store(saturated, 3, run), Image(3, std::vector<unsigned char>(3, 255)))
        << "F = " << frame_count;
  }
}

// Shared out among three threads.
TEST(TemporalMedian, MatchesFullSortOnAStoreOfSeveralMegabytes) {
  std::mt19937 rng(99);
  const std::size_t pixels = 20001;
  const Frames frames = random_frames(rng, 38, pixels, 3);
  WorkerPool pool(3);
  PassExecution run;
  run.workers = &pool;
  EXPECT_EQ(median_by_store(frames, pixels, run), median_by_sorting(frames, pixels));
}

TEST(TemporalMedian, AStoreLargerThanMemoryIsReportedNotTruncated) {
  try {
    FrameStore* store = alloc_frame_store(INT_MAX, SIZE_MAX / 4);
    free_frame_store(store);
    ADD_FAILURE() << "no exception";
  } catch (const AllocationFailure& failure) {
    EXPECT_EQ(failure.bytes(), SIZE_MAX);
  }
}
