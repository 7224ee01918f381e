// The online passes for the per-frame loop: drop-ins for segment_frame,
// coherence_filter and selective_update with the same arguments and the
// same bytes and floats as results, split across the worker threads of the
// settings' pool (their number changes no result) and in the vector build
// the settings choose. The calibration pass has no fast twin: it runs on a
// few frames only.
#pragma once

#include "io/plane_set.h"
#include "model/settings.h"

namespace strellix {

void segment_frame_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                        PlaneSet<float>* bg_model, unsigned char* seg_mask, int n, float threshold,
                        int* match_index);

// in and out are different buffers, as for coherence_filter.
void coherence_filter_fast(const ModelSettings& s, int H, int W, const unsigned char* in, unsigned char* out);

void selective_update_fast(const ModelSettings& s, const PlaneSet<float> frame_planes, int H, int W,
                           PlaneSet<float>* bg_model, const unsigned char* filtered_mask,
                           const PlaneSet<float> rate_kernel_2d, int width_2d, const int* match_index);

}  // namespace strellix
