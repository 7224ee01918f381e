// A calibration frame of the fast mode: one sweep in raster order that
// changes the model in place, as the exact calibration does. Each pixel is
// matched against the model as the pixels before it have left it (in the
// calibration's large weights that is most of what makes a pixel match)
// and, when it matches, blends its value into its layer over its window
// and across layers at once.
#pragma once

#include <opencv2/core.hpp>

#include "fast_mode/row_kernels.h"

namespace strellix {

class WorkerPool;

namespace fast {

// What the sweep works on: the fast model's rows and labels.
struct SweepTarget {
  int width;
  int height;
  int stride;
  int layers;
  int half;                     // of the 2D window
  short* model;                 // rows of 3 * layers * stride, see model_offset()
  unsigned char* labels;        // width * height: this frame's so far, the last frame's after
  signed char* match;           // width * height
  const float* window_weights;  // (2 half + 1)^2: the rate times the kernel, row by row
  const float* one_d;           // as UpdateWeights::one_d
  float threshold;              // squared distance, model units
};

// Sweeps one 8-bit BGR frame of the target's size, on the pool's threads
// (null: the calling thread alone) as a wavefront: a row runs as soon as
// the row above is 2 half + 1 columns ahead, which gives every pixel the
// model and labels of the sweep in raster order, whatever the threads.
void calibration_sweep(const SweepTarget& t, const RowKernels& kernels, WorkerPool* workers,
                       const cv::Mat& bgr);

}  // namespace fast
}  // namespace strellix
