// Best match of one pixel against the layers, and the shadow test.
#pragma once

#include "core/plane_set.h"
#include "core/settings.h"

namespace strellix {

constexpr float MATCH_START_DISTANCE = 100000.0f;

// Returns MATCH_NONE, MATCH_FOUND or MATCH_SHADOW; match_index receives the
// accepted layer, the shadow layer or -1.
int find_best_match(const ModelSettings& s, float c0, float c1, float c2, PlaneSet<float>* bg_model, int p,
                    int n, float threshold, int& match_index);

// 1 when some layer passes (match_index = the first such layer), else 0 and
// match_index is left as it was.
int shadow_test(const ModelSettings& s, float c0, float c1, float c2, PlaneSet<float>* bg_model, int p, int n,
                int& match_index);

// The two halves of the shadow test for one layer, shared with the parallel
// segmentation: the value ratio (fails for NaN and for a layer of value 0),
// and saturation and hue within their bounds (hue the short way round).
bool shadow_value_ratio_passes(float v_pixel, float v_layer);
bool shadow_chroma_passes(float s_pixel, float h_pixel, float s_layer, float h_layer);

}  // namespace strellix
