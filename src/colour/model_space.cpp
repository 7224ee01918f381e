#include "colour/model_space.h"

#include <cmath>

#include "colour/colour_convert.h"
#include "core/settings.h"

namespace strellix {

void frame_to_model(const ModelSettings& s, const cv::Mat& image, int /*pixel_count*/,
                    PlaneSet<float> planes) {
  // Anything but three 8-bit channels would be misread byte by byte.
  if (image.empty() || image.type() != CV_8UC3) return;
  const int width = image.cols;
  const int height = image.rows;
  for (int r = 0; r < height; ++r) {
    const unsigned char* row = image.ptr<unsigned char>(r);
    for (int c = 0; c < width; ++c) {
      const std::size_t i = static_cast<std::size_t>(r) * width + c;
      if (s.search_mask[i] == 0) continue;
      const unsigned char* px = row + 3 * c;
      float H, S, V;
      rgb_to_hsv(px[2], px[1], px[0], H, S, V);
      // The angle stays in double: rounding it to float would move the
      // cone coordinates by up to one unit in the last place.
      const double h = static_cast<double>(H) * static_cast<double>(DEG_TO_RAD);
      planes[0][i] = static_cast<float>(std::cos(h) * S * V);
      planes[1][i] = static_cast<float>(std::sin(h) * S * V);
      planes[2][i] = V;
    }
  }
}

double pixel_distance(int mode, float a1, float a2, float a3, float b1, float b2, float b3) {
  if (mode == 2) {
    const double ha = static_cast<double>(a1) * static_cast<double>(DEG_TO_RAD);
    const double hb = static_cast<double>(b1) * static_cast<double>(DEG_TO_RAD);
    const float dx = static_cast<float>(std::cos(hb) * b2 * b3 - std::cos(ha) * a2 * a3);
    const double dy = std::sin(hb) * b2 * b3 - std::sin(ha) * a2 * a3;
    const double dz = static_cast<double>(b3) - a3;
    return dz * dz + dy * dy + static_cast<double>(dx) * dx;
  }
  const double d3 = static_cast<double>(b3) - a3;
  const double d2 = static_cast<double>(b2) - a2;
  const double d1 = static_cast<double>(b1) - a1;
  return d3 * d3 + d2 * d2 + d1 * d1;
}

void render_background(const ModelSettings& s, const PlaneSet<float> frame_planes, int height, int width,
                       PlaneSet<float>* bg_model, int n, PlaneSet<float> render_planes) {
  const std::size_t count = static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
  for (std::size_t i = 0; i < count; ++i) {
    if (s.search_mask[i] == 0 || n < 1) {
      render_planes[0][i] = 0.0f;
      render_planes[1][i] = 0.0f;
      render_planes[2][i] = 0.0f;
      continue;
    }
    // Layer 0 is the fallback when no distance beats the start value
    // (values that are not numbers), so a layer is always copied.
    float best = RENDER_START_DISTANCE;
    int best_layer = 0;
    for (int j = 0; j < n; ++j) {
      const double d =
          pixel_distance(s.colour_mode, frame_planes[0][i], frame_planes[1][i], frame_planes[2][i],
                         bg_model[j][0][i], bg_model[j][1][i], bg_model[j][2][i]);
      if (d < static_cast<double>(best)) {
        best = static_cast<float>(d);
        best_layer = j;
      }
    }
    render_planes[0][i] = bg_model[best_layer][0][i];
    render_planes[1][i] = bg_model[best_layer][1][i];
    render_planes[2][i] = bg_model[best_layer][2][i];
  }
}

static unsigned char unit_to_byte(float u) {
  return float_to_byte(static_cast<float>(static_cast<double>(u) * 255.0));
}

void model_to_rgb_planes(int mode, const PlaneSet<float> source, int pixel_count,
                         PlaneSet<unsigned char> destination) {
  for (int i = 0; i < pixel_count; ++i) {
    const float s0 = source[0][i];
    const float s1 = source[1][i];
    const float s2 = source[2][i];
    if (mode == 1) {
      destination[0][i] = unit_to_byte(s0);
      destination[1][i] = unit_to_byte(s1);
      destination[2][i] = unit_to_byte(s2);
      continue;
    }
    float H = s0, S = s1, V = s2;
    if (mode != 2) cone_to_hsv(s0, s1, s2, H, S, V);
    float red, green, blue;
    hsv_to_rgb(H, S, V, red, green, blue);
    destination[0][i] = unit_to_byte(red);
    destination[1][i] = unit_to_byte(green);
    destination[2][i] = unit_to_byte(blue);
  }
}

}  // namespace strellix
