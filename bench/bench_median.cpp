// Times the initial-background median against the decoding of its frames.
//
// Reads the first frames of the pedestrian video, then times, each over
// several repeats: decoding (VideoCapture::read), filling the frame store
// (allocation plus store_frame for every frame), compute_median, and a
// plain reference that sorts the values of every pixel-channel in full.
// Prints the median wall-clock and process CPU time of each and the ratios
// compute / decode (the machine may be shared, so CPU time is the steadier
// figure), and checks that the reference and compute_median agree byte for
// byte.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "bench_timing.h"
#include "colour/plane_convert.h"
#include "core/plane_set.h"
#include "core/vector_width.h"
#include "core/worker_pool.h"
#include "model/temporal_median.h"

using namespace strellix;

namespace {

constexpr int FRAME_COUNT = 100;
constexpr int REPEATS = 5;
constexpr int SORT_REPEATS = 2;

// One repetition's time since `start`, kept for the medians.
void record_since(const Stamp& start, Timing& timing) {
  Figures one;
  add_since(start, one);
  record(timing, one);
}

// Decodes the first `count` frames; returns false when the video gives fewer.
bool decode_frames(const std::string& path, int count, std::vector<cv::Mat>& frames) {
  cv::VideoCapture capture(path);
  if (!capture.isOpened()) {
    return false;
  }
  frames.assign(static_cast<std::size_t>(count), cv::Mat());
  for (int k = 0; k < count; ++k) {
    if (!capture.read(frames[static_cast<std::size_t>(k)])) {
      return false;
    }
  }
  return true;
}

// The plain way: gather the values of each pixel-channel and sort them.
void full_sort_median(const std::vector<PlaneSet<unsigned char>>& frames, int frame_count,
                      std::size_t pixel_count, PlaneSet<unsigned char> result) {
  std::vector<unsigned char> values(static_cast<std::size_t>(frame_count));
  for (std::size_t j = 0; j < pixel_count; ++j) {
    for (int c = 0; c < 3; ++c) {
      for (int l = 0; l < frame_count; ++l) {
        values[static_cast<std::size_t>(l)] = frames[static_cast<std::size_t>(l)][c][j];
      }
      std::sort(values.begin(), values.end());
      const int half = frame_count / 2;
      result[c][j] = frame_count % 2 != 0
                         ? values[static_cast<std::size_t>(half)]
                         : static_cast<unsigned char>((values[static_cast<std::size_t>(half - 1)] +
                                                       values[static_cast<std::size_t>(half)]) /
                                                      2);
    }
  }
}

bool same_planes(const PlaneSet<unsigned char> a, const PlaneSet<unsigned char> b, std::size_t pixel_count) {
  for (int c = 0; c < 3; ++c) {
    if (!std::equal(a[c], a[c] + pixel_count, b[c])) {
      return false;
    }
  }
  return true;
}

void print_line(const char* what, const Figures& f) {
  std::printf("  %-30s wall %8.1f ms   cpu %8.1f ms\n", what, f.wall * 1e3, f.cpu * 1e3);
}

void print_ratio(const char* what, const Figures& numerator, const Figures& denominator) {
  std::printf("  %-30s wall %8.3f      cpu %8.3f\n", what, numerator.wall / denominator.wall,
              numerator.cpu / denominator.cpu);
}

// Returns whether compute_median agreed with the full sort.
bool run_for_frame_count(const std::vector<PlaneSet<unsigned char>>& planes, int frame_count,
                         std::size_t pixel_count, const Figures& decode) {
  Timing store_timing;
  Timing compute_timing;
  PlaneSet<unsigned char> result = alloc_byte_planes(3, pixel_count);
  // As a run takes it: on a thread per core, in the widest vector build.
  WorkerPool pool(core_count());
  const PassExecution run{&pool, processor_has_avx2()};
  for (int r = 0; r < REPEATS; ++r) {
    Stamp start = now();
    FrameStore* store = alloc_frame_store(frame_count, pixel_count);
    for (int k = 0; k < frame_count; ++k) {
      store_frame(store, k, planes[static_cast<std::size_t>(k)]);
    }
    record_since(start, store_timing);
    start = now();
    compute_median(run, store, result);
    record_since(start, compute_timing);
    free_frame_store(store);
  }

  Timing sort_timing;
  PlaneSet<unsigned char> reference = alloc_byte_planes(3, pixel_count);
  for (int r = 0; r < SORT_REPEATS; ++r) {
    const Stamp start = now();
    full_sort_median(planes, frame_count, pixel_count, reference);
    record_since(start, sort_timing);
  }

  const Figures store = figures_of(store_timing);
  const Figures compute = figures_of(compute_timing);
  const Figures sort = figures_of(sort_timing);
  const Figures store_and_compute{store.wall + compute.wall, store.cpu + compute.cpu};
  std::printf("F = %d\n", frame_count);
  print_line("store (alloc + store_frame)", store);
  print_line("compute_median", compute);
  print_line("full-sort reference", sort);
  print_ratio("compute / decode", compute, decode);
  print_ratio("(store + compute) / decode", store_and_compute, decode);
  print_ratio("full sort / compute", sort, compute);
  const bool agree = same_planes(result, reference, pixel_count);
  std::printf("  results agree with full sort: %s\n", agree ? "yes" : "NO");
  free_planes(reference, 3);
  free_planes(result, 3);
  return agree;
}

// The shared data lies beside the checkout: <checkout>/../shared/data.
std::string default_video_path() {
  std::string source = __FILE__;
  const std::size_t slash = source.find_last_of('/');
  const std::string bench_dir = slash == std::string::npos ? "." : source.substr(0, slash);
  return bench_dir + "/../../shared/data/vtest.avi";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : default_video_path();
  if (!std::ifstream(path).good()) {
    std::printf("%s not found: benchmark skipped\n", path.c_str());
    return 0;
  }

  std::vector<cv::Mat> frames;
  Timing decode_timing;
  for (int r = 0; r < REPEATS; ++r) {
    const Stamp start = now();
    if (!decode_frames(path, FRAME_COUNT, frames)) {
      std::printf("%s does not give %d frames: benchmark skipped\n", path.c_str(), FRAME_COUNT);
      return 0;
    }
    record_since(start, decode_timing);
  }
  const Figures decode = figures_of(decode_timing);
  const int width = frames[0].cols;
  const int height = frames[0].rows;
  const std::size_t pixel_count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::printf("%d frames of %dx%d from %s, median of %d repeats (full sort: %d)\n", FRAME_COUNT, width,
              height, path.c_str(), REPEATS, SORT_REPEATS);
  print_line("decode (VideoCapture::read)", decode);

  std::vector<PlaneSet<unsigned char>> planes(FRAME_COUNT);
  for (int k = 0; k < FRAME_COUNT; ++k) {
    planes[static_cast<std::size_t>(k)] = alloc_byte_planes(3, pixel_count);
    image_to_planes(frames[static_cast<std::size_t>(k)], static_cast<int>(pixel_count),
                    planes[static_cast<std::size_t>(k)]);
  }

  // Both an even and an odd frame count: the even one needs the extra
  // search for the upper middle value.
  bool agree = run_for_frame_count(planes, FRAME_COUNT, pixel_count, decode);
  agree = run_for_frame_count(planes, FRAME_COUNT - 1, pixel_count, decode) && agree;

  for (auto& p : planes) {
    free_planes(p, 3);
  }
  return agree ? 0 : 1;
}
