// Times the library's own Subtractor::apply() per frame, for the Python
// benchmark (bench/bench_python.py) to set beside the module's apply() and
// cv2's MOG2 on the same frames. Frames are decoded into memory first.
//
//   bench_apply (--images PRINTF_PATTERN | --video FILE) --count N [--median-frames F] [--threads T]
//               [--crop WxH]
//
// --crop keeps the top left WxH pixels of every frame (a copy), for the
// fixed cost of a call.
// Seeds the model with the median of the first F frames, applies frames 1
// to N and prints the medians over the online frames of apply()'s wall time
// and of the CPU time of the calling thread (all of apply()'s work when
// T = 1, and then hardly touched by other load on the machine):
//   frames=N online=M wall_ms=X thread_cpu_ms=Y
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "strellix/strellix.hpp"

namespace {

struct Options {
  std::string images;  // printf pattern of frame k (from 1)
  std::string video;
  int count = 0;
  int median_frames = 50;
  int threads = 0;
  int crop_width = 0;  // 0: whole frames
  int crop_height = 0;
};

int usage() {
  std::fprintf(stderr,
               "usage: bench_apply (--images PRINTF_PATTERN | --video FILE) --count N [--median-frames F] "
               "[--threads T] [--crop WxH]\n");
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--images")
      o.images = value;
    else if (name == "--video")
      o.video = value;
    else if (name == "--count")
      o.count = std::atoi(value);
    else if (name == "--median-frames")
      o.median_frames = std::atoi(value);
    else if (name == "--threads")
      o.threads = std::atoi(value);
    else if (name != "--crop" || std::sscanf(value, "%dx%d", &o.crop_width, &o.crop_height) != 2)
      return false;
  }
  return argc % 2 == 1 && o.count > 0 && o.median_frames > 0 && o.threads >= 0 && o.crop_width >= 0 &&
         o.crop_height >= 0 && o.images.empty() != o.video.empty();
}

double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// A copy of the frame, or of its top left corner with --crop.
cv::Mat cropped(const cv::Mat& frame, const Options& o) {
  if (o.crop_width == 0) return frame.clone();
  return frame(cv::Rect(0, 0, std::min(o.crop_width, frame.cols), std::min(o.crop_height, frame.rows)))
      .clone();
}

// Every frame decoded before any timing, as the Python side does.
std::vector<cv::Mat> read_frames(const Options& o) {
  std::vector<cv::Mat> frames;
  if (!o.video.empty()) {
    cv::VideoCapture capture(o.video);
    for (cv::Mat f; static_cast<int>(frames.size()) < o.count && capture.read(f);)
      frames.push_back(cropped(f, o));
    return frames;
  }
  for (int k = 1; k <= o.count; ++k) {
    std::vector<char> name(o.images.size() + 32);
    std::snprintf(name.data(), name.size(), o.images.c_str(), k);
    cv::Mat f = cv::imread(name.data());
    if (f.empty()) break;
    frames.push_back(cropped(f, o));
  }
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return usage();
  const std::vector<cv::Mat> frames = read_frames(o);
  if (static_cast<int>(frames.size()) < o.count) {
    std::fprintf(stderr, "bench_apply: only %zu frames could be read\n", frames.size());
    return 1;
  }
  strellix::Parameters p;
  p.median_frames = o.median_frames;
  p.threads = o.threads;
  strellix::Subtractor s(p);
  s.initialize(frames);
  cv::Mat mask;
  std::vector<double> wall, cpu;
  for (const cv::Mat& f : frames) {
    const bool is_online = s.frames_applied() >= p.layers;
    const double cpu_start = thread_cpu_ms();
    const auto start = std::chrono::steady_clock::now();
    s.apply(f, mask);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!is_online) continue;
    wall.push_back(took.count());
    cpu.push_back(thread_cpu_ms() - cpu_start);
  }
  if (wall.empty()) {
    std::fprintf(stderr, "bench_apply: --count must exceed the %d calibration frames\n", p.layers);
    return 2;
  }
  std::printf("frames=%zu online=%zu wall_ms=%.4f thread_cpu_ms=%.4f\n", frames.size(), wall.size(),
              median(wall), median(cpu));
  return 0;
}
