// Settings and constants shared by the colour and model code.
//
// The run-wide settings are set once by the driver, before the first pass,
// and only read afterwards. Tests set them directly.
#pragma once

#include <cstdint>

namespace strellix {

// Segmentation labels, one byte per pixel.
constexpr unsigned char LABEL_BACKGROUND = 0;
constexpr unsigned char LABEL_SHADOW = 85;
constexpr unsigned char LABEL_FILTERED_FOREGROUND = 170;
constexpr unsigned char LABEL_FOREGROUND = 255;

// Results of the best-match search.
constexpr int MATCH_NONE = 0;
constexpr int MATCH_FOUND = 1;
constexpr int MATCH_SHADOW = 2;

// Build-time settings. colour_mode and use_shadow_test are variables so
// that tests can exercise the other modes; the program never changes them.
extern int colour_mode;      // 3: cone coordinates
extern int use_shadow_test;  // 1: on
constexpr int use_search_mask = 0;
constexpr int display_delay_ms = 20;

// Shadow-test bounds (32-bit floats; comparisons widen them to double).
constexpr float shadow_v_low = 0.7f;
constexpr float shadow_v_high = 1.0f;
constexpr float shadow_s_max = 0.1f;
constexpr float shadow_h_max = 10.0f;

// Fixed match threshold of the calibration stretch.
constexpr float calibration_threshold = 0.005f;

// Run-wide settings, fixed after the command line has been read.
extern int layer_count;             // n, the number of model layers
extern int width_1d;                // 2*w1d+1
extern float learning_rate;         // lr
extern float* kernel_1d;            // width_1d weights across layers
extern unsigned char* search_mask;  // one byte per pixel, nonzero = process
extern int first_search_row;        // first row holding a nonzero mask byte

}  // namespace strellix
