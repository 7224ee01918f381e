// Everything one run owns: its settings, names, input and buffers.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <cstddef>

#include "driver/seq_names.h"
#include "io/plane_set.h"

namespace strellix {

// The switch values, fixed once the command line has been read. The flags
// that the switches only test for nonzero keep the value that was given.
struct RunSettings {
  int ini = 1;
  int end = 2;
  int n = 5;
  int w1d = 1;
  int w2d = 1;
  float e = 0.005f;
  int F = 100;
  float lr = 0.05f;
  int SmaskMOD = 1;
  int SmodBG = 0;
  int video = 0;
  int ShowMask = 0;
  int skip = 1;
  int Boot = 0;
  int width_1d = 3;  // 2*w1d+1
  int width_2d = 3;  // 2*w2d+1
};

// The per-run buffers, apart from search_mask and kernel_1d, which live in
// the run-wide settings because the passes read them directly.
struct RunBuffers {
  PlaneSet<float> frame_planes = nullptr;
  PlaneSet<float>* bg_model = nullptr;
  unsigned char* seg_mask = nullptr;
  PlaneSet<float> kernel_2d = nullptr;
  PlaneSet<float> rate_kernel_2d = nullptr;
  PlaneSet<unsigned char> render_rgb_planes = nullptr;
  PlaneSet<float> render_planes = nullptr;
  unsigned char* filtered_mask = nullptr;
  int* match_index = nullptr;
  cv::Mat mask_image;
};

struct RunState {
  RunSettings settings;
  SeqNames names;
  cv::VideoCapture capture;  // opened only for video input
  bool input_window = false;
  bool output_window = false;
  int W = 0;
  int H = 0;
  std::size_t N = 0;
  RunBuffers buffers;
  float rate_a = 0.0f;         // A: the calibration schedule's starting rate
  float rate_b = 0.0f;         // B: its final rate, also the online stretch's
  bool output_failed = false;  // some output file could not be written
};

// Frame numbers are formed in 64 bits so that no range of int switch values
// can overflow them.
inline long long frame_number(const RunSettings& s, long long t) {
  return s.ini + t;
}
inline long long range_size(const RunSettings& s) {
  return static_cast<long long>(s.end) - s.ini + 1;
}

}  // namespace strellix
