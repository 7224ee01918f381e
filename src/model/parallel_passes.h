// The exact passes built for vector lanes and threads: drop-ins for
// calibration_pass, segment_frame, coherence_filter and selective_update
// that give the same bytes and floats, split across the worker threads of
// the settings' execution (their number changes no result) and in the
// vector build it names.
#pragma once

#include "core/pass_views.h"
#include "core/settings.h"

namespace strellix {

void segment_frame_parallel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                            const LabelView& labels, float threshold);

// The calibration pass on the settings' threads, with the same bits: rows
// go to the threads in turn, each row a few columns behind the row above
// (twice the 2D half-width and one), so that every pixel still sees the
// model and the labels exactly as the raster sweep leaves them for it.
void calibration_pass_wavefront(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                                unsigned char* labels, float threshold);

// How many columns a row of the calibration wavefront keeps behind the row
// above.
int calibration_lag(int width_2d);

// The calibration pass on the calling thread, in the order a wavefront with
// that lag may take at its most eager: column c of row r at step
// c + lag (r - first row), the lower rows first within a step. For tests: with
// calibration_lag() it gives the raster sweep's bits.
void calibration_pass_skewed(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                             unsigned char* labels, float threshold, int lag);

// Rows [row_begin, row_end) of segment_frame_parallel, on the calling
// thread; only cone or RGB distances (colour modes other than 2).
void segment_rows_parallel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                           const LabelView& labels, float threshold, int row_begin, int row_end);

// Row x of coherence_filter_parallel, written into out_row (that row of
// some output), on the calling thread: every pixel of the row that the
// filter writes, read from rows x-2 to x+2 of `in`. column_sums holds W
// bytes.
void coherence_filter_row_parallel(const ModelSettings& s, int H, int W, const unsigned char* in,
                                   unsigned char* out_row, int x, unsigned char* column_sums);

// in and out are different buffers, as for coherence_filter.
void coherence_filter_parallel(const ModelSettings& s, int H, int W, const unsigned char* in,
                               unsigned char* out);

void selective_update_parallel(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                               const LabelView& labels);

// One online frame in one pass (model/fused_online_pass.cpp): the results
// of segment_frame_parallel, coherence_filter_parallel and
// selective_update_parallel, to the bit. fused_online_applies() tells
// where it can run (not on small frames, even or missing update windows or
// hue-saturation-value distances); elsewhere the three passes run one
// after the other.
bool fused_online_applies(const ModelSettings& s, const FrameView& frame, const ModelView& model);
void online_pass_fused(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                       const LabelView& labels, float threshold);

}  // namespace strellix
