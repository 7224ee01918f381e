#include "model/best_match.h"

#include <cmath>

#include "colour/colour_convert.h"
#include "colour/model_space.h"
#include "core/settings.h"

namespace strellix {

int find_best_match(const ModelSettings& s, float c0, float c1, float c2, PlaneSet<float>* bg_model, int p,
                    int n, float threshold, int& match_index) {
  match_index = -1;
  // The running minimum is kept in single precision on purpose: equal
  // distances then resolve towards the lowest or the highest layer
  // depending on which way the distance rounds, and stored masks depend
  // on that choice.
  float best = MATCH_START_DISTANCE;
  for (int i = 0; i < n; ++i) {
    const PlaneSet<float> layer = bg_model[i];
    const double d = pixel_distance(s.colour_mode, c0, c1, c2, layer[0][p], layer[1][p], layer[2][p]);
    if (d < static_cast<double>(best)) {  // false for NaN
      best = static_cast<float>(d);
      if (d <= static_cast<double>(threshold)) match_index = i;
    }
  }
  if (match_index >= 0) return MATCH_FOUND;
  if (s.use_shadow_test != 0 && shadow_test(s, c0, c1, c2, bg_model, p, n, match_index) == 1)
    return MATCH_SHADOW;
  return MATCH_NONE;
}

namespace {

// Shorter way round the hue circle, so hues 0 and 360 count as equal. Only
// the wrapped difference is rounded to single precision; a NaN difference
// stays NaN and fails every bound.
double hue_difference(float h_pixel, float h_layer) {
  double dh = std::fabs(static_cast<double>(h_pixel) - static_cast<double>(h_layer));
  const float e = static_cast<float>(360.0 - dh);
  if (!(dh < static_cast<double>(e))) dh = e;
  return dh;
}

}  // namespace

// Darker than the layer, but not by more than the lower bound. Written so
// that a NaN ratio (0/0) and an infinite one (layer value 0) both fail.
bool shadow_value_ratio_passes(float v_pixel, float v_layer) {
  const double ratio = static_cast<double>(v_pixel) / static_cast<double>(v_layer);
  return ratio >= static_cast<double>(shadow_v_low) && ratio <= static_cast<double>(shadow_v_high);
}

bool shadow_chroma_passes(float s_pixel, float h_pixel, float s_layer, float h_layer) {
  const double ds = std::fabs(static_cast<double>(s_pixel) - static_cast<double>(s_layer));
  const double dh = hue_difference(h_pixel, h_layer);
  return ds < static_cast<double>(shadow_s_max) && dh < static_cast<double>(shadow_h_max);
}

int shadow_test(const ModelSettings& s, float c0, float c1, float c2, PlaneSet<float>* bg_model, int p, int n,
                int& match_index) {
  float h_pixel = 0.0f, s_pixel = 0.0f, v_pixel = 0.0f;
  model_pixel_to_hsv(s.colour_mode, c0, c1, c2, h_pixel, s_pixel, v_pixel);
  for (int i = 0; i < n; ++i) {
    const PlaneSet<float> layer = bg_model[i];
    float h_layer = 0.0f, s_layer = 0.0f, v_layer = 0.0f;
    model_pixel_to_hsv(s.colour_mode, layer[0][p], layer[1][p], layer[2][p], h_layer, s_layer, v_layer);
    if (!shadow_value_ratio_passes(v_pixel, v_layer)) continue;
    if (shadow_chroma_passes(s_pixel, h_pixel, s_layer, h_layer)) {
      match_index = i;
      return 1;
    }
  }
  return 0;
}

}  // namespace strellix
