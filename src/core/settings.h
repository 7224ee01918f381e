// Settings and constants shared by the colour and model code.
//
// What a model's passes read besides their arguments travels with them in a
// ModelSettings, which the model's owner fills once and keeps unchanged; so
// several models with their own settings can run side by side.
#pragma once

#include <cstdint>

namespace strellix {

class WorkerPool;

// Segmentation labels, one byte per pixel.
constexpr unsigned char LABEL_BACKGROUND = 0;
constexpr unsigned char LABEL_SHADOW = 85;
constexpr unsigned char LABEL_FILTERED_FOREGROUND = 170;
constexpr unsigned char LABEL_FOREGROUND = 255;

// Results of the best-match search.
constexpr int MATCH_NONE = 0;
constexpr int MATCH_FOUND = 1;
constexpr int MATCH_SHADOW = 2;

// Build-time setting: no search mask, every pixel is processed.
constexpr int use_search_mask = 0;

// Shadow-test bounds (32-bit floats; comparisons widen them to double).
constexpr float shadow_v_low = 0.7f;
constexpr float shadow_v_high = 1.0f;
constexpr float shadow_s_max = 0.1f;
constexpr float shadow_h_max = 10.0f;

// Fixed match threshold of the calibration stretch.
constexpr float calibration_threshold = 0.005f;

// How the passes run: on which threads, and whether their AVX2 builds are
// used. Neither changes a result. `wide` is set only from the pass table
// (engine/pass_table.h), which offers it only where the processor has AVX2.
struct PassExecution {
  WorkerPool* workers = nullptr;  // null: on the calling thread alone
  bool wide = false;              // the AVX2 builds
};

// The settings of one model, fixed once the model exists. The pointers
// belong to the model's owner and outlive every pass.
struct ModelSettings {
  int layer_count = 5;                         // n, the number of model layers
  int width_1d = 3;                            // 2*w1d+1
  float learning_rate = 0.05f;                 // lr
  const float* kernel_1d = nullptr;            // width_1d weights across layers
  const unsigned char* search_mask = nullptr;  // one byte per pixel, nonzero = process
  int first_search_row = 0;                    // first row holding a nonzero mask byte
  int colour_mode = 3;                         // 3: cone coordinates; 1 and 2 only in tests
  int use_shadow_test = 1;                     // 1: on
  PassExecution run;
};

}  // namespace strellix
