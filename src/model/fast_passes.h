// The passes for the per-frame loop: drop-ins for calibration_pass,
// segment_frame, coherence_filter and selective_update with the same
// arguments and the same bytes and floats as results, split across the
// worker threads of the settings' pool (their number changes no result)
// and in the vector build the settings choose.
#pragma once

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

void segment_frame_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                        PlaneSet<float>* bg_model, unsigned char* seg_mask, int n, float threshold,
                        int* match_index);

// The calibration pass on the settings' threads, with the same bits: rows
// go to the threads in turn, each row a few columns behind the row above
// (twice the 2D half-width and one), so that every pixel still sees the
// model and the labels exactly as the raster sweep leaves them for it.
void calibration_pass_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                           PlaneSet<float>* bg_model, unsigned char* seg_mask,
                           const PlaneSet<float> rate_kernel_2d, int n, int width_2d, float threshold);

// How many columns a row of the calibration wavefront keeps behind the row
// above.
int calibration_lag(int width_2d);

// The calibration pass on the calling thread, in the order a wavefront with
// that lag may take at its most eager: column c of row r at step
// c + lag (r - first row), the lower rows first within a step. For tests: with
// calibration_lag() it gives the raster sweep's bits.
void calibration_pass_skewed(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                             PlaneSet<float>* bg_model, unsigned char* seg_mask,
                             const PlaneSet<float> rate_kernel_2d, int n, int width_2d, float threshold,
                             int lag);

// Rows [row_begin, row_end) of segment_frame_fast, on the calling thread;
// only cone or RGB distances (colour modes other than 2).
void segment_rows_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int W,
                       PlaneSet<float>* bg_model, unsigned char* seg_mask, int n, float threshold,
                       int* match_index, int row_begin, int row_end);

// Row x of coherence_filter_fast, written into out_row (that row of some
// output), on the calling thread: every pixel of the row that the filter
// writes, read from rows x-2 to x+2 of `in`. column_sums holds W bytes.
void coherence_filter_row_fast(const ModelSettings& s, int H, int W, const unsigned char* in,
                               unsigned char* out_row, int x, unsigned char* column_sums);

// in and out are different buffers, as for coherence_filter.
void coherence_filter_fast(const ModelSettings& s, int H, int W, const unsigned char* in, unsigned char* out);

// One online frame in one pass: the results of segment_frame_fast,
// coherence_filter_fast and selective_update_fast, to the bit, from a
// pass that goes down bands of rows (one per thread) segmenting a row,
// filtering the row two above it and updating the targets above that, so
// that every model row is read from memory once while it is still in the
// cache. False, having done nothing, where it does not apply (small
// frames, even or missing update windows, hue-saturation-value distances):
// the three passes then run one after the other.
bool online_pass_applies(const ModelSettings& s, int H, int W, int width_2d);
bool online_pass_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                      PlaneSet<float>* bg_model, unsigned char* seg_mask, unsigned char* filtered_mask, int n,
                      float threshold, int* match_index, const PlaneSet<float> rate_kernel_2d, int width_2d);

void selective_update_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                           PlaneSet<float>* bg_model, const unsigned char* filtered_mask,
                           const PlaneSet<float> rate_kernel_2d, int width_2d, const int* match_index);

}  // namespace strellix
