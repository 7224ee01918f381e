// Online segmentation against the model and the 5x5 spatial coherence filter.
#pragma once

#include "core/pass_views.h"
#include "core/settings.h"

namespace strellix {

// Every pixel matched against the model: its label into labels.segmented,
// the layer it matched into labels.match_index.
void segment_frame(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                   const LabelView& labels, float threshold);

unsigned char coherence_label(int count, int threshold, unsigned char label);

// in and out are different buffers. Pixels that no region covers, and
// pixels outside the search mask, keep what `out` held.
void coherence_filter(const ModelSettings& s, int H, int W, const unsigned char* in, unsigned char* out);

// The same filter on the two-pixel bands along the edges and the corner
// blocks only, without the interior; the parallel filter shares it.
void coherence_filter_edges(const ModelSettings& s, int H, int W, const unsigned char* in,
                            unsigned char* out);

// The pixels of row x that coherence_filter_edges writes, written into
// out_row (that row of some output); the rest of out_row is left alone.
void coherence_filter_edges_row(const ModelSettings& s, int H, int W, const unsigned char* in,
                                unsigned char* out_row, int x);

}  // namespace strellix
