// Per-pixel colour arithmetic: RGB, HSV and the cone coordinates of the
// model space. Named values are 32-bit floats; arithmetic between them runs
// in double precision and is rounded when stored.
#pragma once

namespace strellix {

// Float constants, each the single-precision rounding of the exact value.
constexpr float INV_255 = 1.0f / 255.0f;
constexpr float INV_60 = 1.0f / 60.0f;
constexpr float DEG_TO_RAD = 0.017453292f;
constexpr float TWO_PI = 6.2831855f;
// The cosine threshold: the single-precision 1e-6, held as a double.
constexpr double COSINE_THRESHOLD = static_cast<double>(1e-6f);

float max_of_three(float a, float b, float c);
float min_of_three(float a, float b, float c);

// Only the low 8 bits of each argument count.
void rgb_to_hsv(int red, int green, int blue, float& H, float& S, float& V);
// red, green, blue in [0, 1].
void hsv_to_rgb(float H, float S, float V, float& red, float& green, float& blue);
// Round half up with clamping to 0..255; not-a-number gives 0.
unsigned char float_to_byte(float x);
void cone_to_hsv(float x, float y, float z, float& H, float& S, float& V);
// mode 1: normalised RGB, 2: H, S, V, otherwise cone coordinates.
void model_pixel_to_hsv(int mode, float a, float b, float c, float& H, float& S, float& V);

}  // namespace strellix
