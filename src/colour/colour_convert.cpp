#include "colour/colour_convert.h"

#include <cmath>

#include "core/settings.h"

namespace strellix {

// Every named value below is a float on purpose: the masks depend on each
// rounding, so arithmetic is widened to double and narrowed only on
// assignment, never in between.

float max_of_three(float a, float b, float c) {
  float m = a > b ? a : b;
  return m > c ? m : c;
}

float min_of_three(float a, float b, float c) {
  float m = a < b ? a : b;
  return m < c ? m : c;
}

void rgb_to_hsv(int red, int green, int blue, float& H, float& S, float& V) {
  const double inv = INV_255;
  float r = static_cast<float>((red & 0xFF) * inv);
  float g = static_cast<float>((green & 0xFF) * inv);
  float b = static_cast<float>((blue & 0xFF) * inv);
  float mx = max_of_three(r, g, b);
  float mn = min_of_three(r, g, b);
  float delta = static_cast<float>(static_cast<double>(mx) - mn);
  V = mx;
  if (mx == 0.0f) {
    H = 0.0f;
    S = 0.0f;
    return;
  }
  S = static_cast<float>(static_cast<double>(delta) / mx);
  if (S == 0.0f) {
    H = 0.0f;
    return;
  }
  float h;
  if (r == mx) {
    h = static_cast<float>((static_cast<double>(g) - b) / delta);
  } else if (g == mx) {
    h = static_cast<float>((static_cast<double>(b) - r) / delta + 2.0);
  } else {
    h = static_cast<float>((static_cast<double>(r) - g) / delta + 4.0);
  }
  h = static_cast<float>(static_cast<double>(h) * 60.0);
  if (h < 0.0f) h = static_cast<float>(static_cast<double>(h) + 360.0);
  H = h;
}

// Sector of the hue wheel. Anything outside 0..4 (negative, 5, 6 or more,
// not a number) shares the last row; deciding that on the double keeps a
// huge or undefined hue away from an out-of-range integer conversion.
static int hue_sector(double floored) {
  if (floored >= 0.0 && floored < 5.0) return static_cast<int>(floored);
  return 5;
}

void hsv_to_rgb(float H, float S, float V, float& red, float& green, float& blue) {
  if (S == 0.0f) {
    red = green = blue = V;
    return;
  }
  float h6 = static_cast<float>(static_cast<double>(H) * static_cast<double>(INV_60));
  double floored = std::floor(static_cast<double>(h6));
  int i = hue_sector(floored);
  float f = static_cast<float>(h6 - floored);
  const double s = S;
  const double v = V;
  float p = static_cast<float>(v * (1.0 - s));
  float q = static_cast<float>(v * (1.0 - s * f));
  float t = static_cast<float>(v * (1.0 - s * (1.0 - f)));
  switch (i) {
    case 0:
      red = V;
      green = t;
      blue = p;
      break;
    case 1:
      red = q;
      green = V;
      blue = p;
      break;
    case 2:
      red = p;
      green = V;
      blue = t;
      break;
    case 3:
      red = p;
      green = q;
      blue = V;
      break;
    case 4:
      red = t;
      green = p;
      blue = V;
      break;
    default:
      red = V;
      green = p;
      blue = q;
      break;
  }
}

unsigned char float_to_byte(float x) {
  if (!(x >= 0.0f)) return 0;  // negative or not a number
  if (x > 255.0f) return 255;
  return static_cast<unsigned char>(static_cast<int>(static_cast<double>(x) + 0.5));
}

void cone_to_hsv(float x, float y, float z, float& H, float& S, float& V) {
  float a = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
  if (a < 0.0f) a = static_cast<float>(static_cast<double>(a) + static_cast<double>(TWO_PI));
  double cos_a = std::cos(static_cast<double>(a));
  // At the tip (0, 0, 0) this is 0/0: the saturation is left not a number,
  // which renders black and which the shadow test never reaches.
  if (std::fabs(cos_a) > COSINE_THRESHOLD) {
    S = static_cast<float>(x / (cos_a * z));
  } else {
    S = static_cast<float>(y / (std::sin(static_cast<double>(a)) * z));
  }
  H = static_cast<float>(static_cast<double>(a) / static_cast<double>(DEG_TO_RAD));
  V = z;
}

static unsigned char unit_to_byte(float u) {
  return float_to_byte(static_cast<float>(static_cast<double>(u) * 255.0));
}

void model_pixel_to_hsv(int mode, float a, float b, float c, float& H, float& S, float& V) {
  if (mode == 1) {
    rgb_to_hsv(unit_to_byte(a), unit_to_byte(b), unit_to_byte(c), H, S, V);
  } else if (mode == 2) {
    H = a;
    S = b;
    V = c;
  } else {
    cone_to_hsv(a, b, c, H, S, V);
  }
}

}  // namespace strellix
