// Everything one run owns: its settings, names, input, model and outputs.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <cstddef>
#include <memory>

#include "driver/seq_names.h"
#include "engine/engine.h"

namespace strellix {

// The switch values, fixed once the command line has been read. The flags
// that the switches only test for nonzero keep the value that was given.
// The model's defaults are the library's.
struct RunSettings {
  int ini = 1;
  int end = 2;
  int n = Parameters().layers;
  int w1d = Parameters().width_1d;
  int w2d = Parameters().width_2d;
  float e = static_cast<float>(Parameters().threshold);
  int F = Parameters().median_frames;
  float lr = static_cast<float>(Parameters().learning_rate);
  int SmaskMOD = 1;
  int SmodBG = 0;
  int video = 0;
  int ShowMask = 0;
  int skip = 1;
  int Boot = 0;
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
  cv::Mat first_frame;             // frame ini, kept until the model has seen it
  std::unique_ptr<Engine> engine;  // the model, made once the frame size is known
  cv::Mat mask_image;              // the mask of the current frame
  bool output_failed = false;      // some output file could not be written
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
