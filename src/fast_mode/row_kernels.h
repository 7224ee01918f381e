// The fast mode's work on one image row: conversion of 8-bit BGR into the
// model space, segmentation against the layers, and the update of the
// layers. Each comes in a baseline (SSE2) and an AVX2 build with the same
// bits; which one runs is the caller's choice (row_kernels()).
//
// Rows are plain arrays of floats (the frame, in model units) and of
// 16-bit integers (the model), padded to a multiple of ROW_ALIGN columns
// (`stride`), so that every vector lane does the same work and no column
// needs a scalar tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace strellix {
namespace fast {

// Model units per 1.0 of a cone coordinate: the layers are stored as
// 16-bit integers x, y in [-UNIT, UNIT] and z in [0, UNIT]; the frame rows
// hold the same units as floats.
constexpr float UNIT = 32767.0f;

// Rows are padded to a multiple of this many columns, the most a kernel
// takes at once.
constexpr int ROW_ALIGN = 16;
// Columns of padding on either side of the rows the update reads around a
// pixel: one vector of the widest kind.
constexpr int ROW_PAD = 16;
// The 16-bit copy of a frame value the separable update sums: the model
// units over COARSE, so that the sums of a whole window fit in 16 bits.
constexpr float COARSE = 32.0f;

// Largest half-width of the update window the kernels take.
constexpr int MAX_HALF = 4;
constexpr int MAX_WINDOW = 2 * MAX_HALF + 1;

// One row of the frame as the update reads it: the coordinates x, y, z in
// model units (and in units of COARSE), the layer each pixel teaches (-1:
// none) and its label. Each pointer is at column 0 and valid from -ROW_PAD
// to stride + ROW_PAD; padding holds 0, -1 and 255.
struct CentreRow {
  const float* x;
  const float* y;
  const float* z;
  const short* coarse[3];  // within +-1023
  const short* units[3];   // rounded to whole model units
  const signed char* teach;
  const unsigned char* labels;
};

// What makes a CentreRow of a converted row: its final labels and matched
// layers (width bytes each), into the row's labels, teach and coarse
// values (stride columns each).
struct CentreSource {
  const unsigned char* labels;
  const signed char* match;
  int width;
  int stride;
  const float* cone[3];
  unsigned char* out_labels;
  signed char* teach;
  short* coarse[3];
  short* units[3];
};

// A model row holds groups of ROW_ALIGN columns, each group the values of
// every layer coordinate in turn (layer j, coordinate k in plane 3 j + k),
// so that a row is read and written as one stream.
inline std::size_t model_offset(int layers, int plane, int column) {
  return static_cast<std::size_t>(column / ROW_ALIGN) * (3 * layers * ROW_ALIGN) +
         static_cast<std::size_t>(plane) * ROW_ALIGN + column % ROW_ALIGN;
}

// The search for the nearest layer takes a layer whose distance is below
// the best so far, or equal to it with an odd last bit: equal distances to
// several layers (layers still equal, as right after the seed) then go to
// the highest of them or stay with the lowest, by the distance's last bit.
// The exact mode's rounding splits such pixels between its first and last
// layers much the same way, and the model keeps the variety of layers that
// gives. Distances are not negative, so their bits order as they do, and
// one with its last bit cleared is below the best exactly in those cases
// (a distance that is no number is above every other).
inline bool closer_or_tie_up(float distance, float best) {
  std::uint32_t d, b;
  std::memcpy(&d, &distance, sizeof d);
  std::memcpy(&b, &best, sizeof b);
  return static_cast<std::int32_t>(d & ~1u) < static_cast<std::int32_t>(b);
}

struct SegmentRow {
  const short* model;  // the row, see model_offset()
  const float* x;      // the frame row, model units
  const float* y;
  const float* z;
  int stride;
  int width;  // columns written, at most stride
  int layers;
  float threshold;        // squared distance, model units
  unsigned char* labels;  // width bytes: 0 matched, 85 shadow, 255 foreground
  signed char* match;     // width bytes: matched or shadow layer, -1 none
};

// The weights of the update for one target row; see update_weights.h.
struct UpdateRow {
  int stride;
  int layers;
  int half;                             // of the 2D window
  bool separable;                       // window weights = column weights x row weights
  CentreRow centre[MAX_WINDOW];         // rows target-half .. target+half
  bool centre_present[MAX_WINDOW];      // inside the image
  const float* kernel_row[MAX_WINDOW];  // the kernel row each centre row applies here
  const float* kernel;                  // (2 half + 1)^2 integer weights, row by row
  const float* edge_kernel;             // weights of the first eight columns, see update_weights.h
  const short* edge_words;              // separable: row 0 of edge_kernel for sixteen lanes, as 16-bit
  // By weight count K: how far K weight units move a layer, over K; from
  // the polynomial when grow_polynomial, else from the table grow.
  bool grow_polynomial;
  float grow_coefficients[4];  // K^0 .. K^3
  const float* grow;
  int grow_size;  // entries of grow
  // Separable windows whose blends all weigh less than 1 take the last
  // steps in 16-bit fixed point, sixteen lanes at a time, with these tables
  // of 15-bit fractions: by K, the share grow * K and 1 / K (32 entries);
  // by layer j and taught layer + 1, the blend across layers (eight
  // entries a layer).
  bool fixed_point;
  const short* grow_fraction;
  const short* inverse_fraction;
  const short* one_d_fraction;
  const float* one_d;  // layer j: layers + 1 weights, by taught layer + 1
  short* model;        // the target row, see model_offset()
  // The model row segmented next (null: none), whose lines the update asks
  // the memory for as it goes: its arithmetic then hides the wait.
  const short* next_model;
  float* scratch;  // update_scratch_floats(layers) floats
};

// Floats of scratch an update of rows with this many layers needs.
std::size_t update_scratch_floats(int layers);

struct RowKernels {
  // Pixels 0..width-1 of an 8-bit BGR row into x, y, z (model units); the
  // columns up to the next multiple of ROW_ALIGN become 0.
  void (*convert)(const unsigned char* bgr, int width, float* x, float* y, float* z);
  void (*segment)(const SegmentRow& row);
  void (*centre)(const CentreSource& row);
  void (*update)(const UpdateRow& row);
};

// The AVX2 build when asked for and the processor has it, else the
// baseline build.
const RowKernels& row_kernels(bool wide);
// Which of them that is: "avx2" or "baseline".
const char* row_kernels_name(bool wide);

}  // namespace fast
}  // namespace strellix
