// Best match of one pixel against the layers, and the shadow test.
#pragma once

#include "io/plane_set.h"

constexpr float MATCH_START_DISTANCE = 100000.0f;

// Returns MATCH_NONE, MATCH_FOUND or MATCH_SHADOW; match_index receives the
// accepted layer, the shadow layer or -1.
int find_best_match(float c0, float c1, float c2, PlaneSet<float>* bg_model, int p, int n,
                    float threshold, int& match_index);

// 1 when some layer passes (match_index = the first such layer), else 0 and
// match_index is left as it was.
int shadow_test(float c0, float c1, float c2, PlaneSet<float>* bg_model, int p, int n,
                int& match_index);
