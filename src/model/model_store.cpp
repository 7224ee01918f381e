// The layered background model and the weight kernels of its update.
#include "model/model_store.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/settings.h"

namespace strellix {

PlaneSet<float>* alloc_model(int n, std::size_t pixel_count) {
  // One spare entry keeps the array a real allocation even for n = 0.
  const std::size_t entries = n > 0 ? static_cast<std::size_t>(n) : 1;
  PlaneSet<float>* bg_model = static_cast<PlaneSet<float>*>(checked_calloc(entries, sizeof(PlaneSet<float>)));
  try {
    for (int k = 0; k < n; ++k) bg_model[k] = alloc_float_planes(3, pixel_count);
  } catch (const AllocationFailure&) {
    free_model(bg_model, n);  // layers not yet made are null and skipped
    throw;
  }
  return bg_model;
}

void free_model(PlaneSet<float>*& bg_model, int n) {
  if (bg_model == nullptr) {
    return;
  }
  for (int k = 0; k < n; ++k) {
    free_planes(bg_model[k], 3);
  }
  std::free(bg_model);
  bg_model = nullptr;
}

// Table entries before the division by the width; the width equals the
// centre entry, so the centre weight becomes exactly 1.
static int kernel_1d_table_entry(int width, int index) {
  static const int width_1[] = {1};
  static const int width_3[] = {1, 3, 1};
  static const int width_5[] = {1, 4, 5, 4, 1};
  static const int width_7[] = {1, 4, 6, 7, 6, 4, 1};
  switch (width) {
    case 1:
      return width_1[index];
    case 3:
      return width_3[index];
    case 5:
      return width_5[index];
    case 7:
      return width_7[index];
    default:
      return 0;  // no table: the 1D update leaves every layer alone
  }
}

float* make_kernel_1d(int width) {
  const std::size_t entries = width > 0 ? static_cast<std::size_t>(width) : 1;
  float* kernel = static_cast<float*>(checked_calloc(entries, sizeof(float)));
  if (width <= 0) {
    return kernel;
  }
  const double inverse_width = 1.0 / static_cast<double>(width);
  for (int i = 0; i < width; ++i) {
    kernel[i] = static_cast<float>(kernel_1d_table_entry(width, i) * inverse_width);
  }
  return kernel;
}

std::string kernel_1d_text(const float* kernel, int width) {
  std::string text = "Filtro Gaussiano 1D di ampiezza " + std::to_string(width) + ":\n";
  char entry[32];
  for (int i = 0; i < width; ++i) {
    std::snprintf(entry, sizeof entry, " %2.2f", static_cast<double>(kernel[i]));
    text += entry;
  }
  return text + "\n";
}

// The spread is the variance of the Gaussian. Untabled odd widths get the
// variance that puts the unrounded centre at width + 1, as the tabled
// spreads nearly do; width 1 needs only some positive spread.
static float spread_for_width(int width) {
  switch (width) {
    case 1:
      return 1.0f;
    case 3:
      return 0.75f;
    case 5:
      return 2.2f;
    case 7:
      return 4.4f;
    case 9:
      return 7.0f;
    default: {
      const double half = (width - 1) / 2;
      return static_cast<float>(half * half / std::log(width + 1.0));
    }
  }
}

static void fill_ones(int width, PlaneSet<float> matrix) {
  for (int r = 0; r < width; ++r) {
    for (int c = 0; c < width; ++c) {
      matrix[r][c] = 1.0f;
    }
  }
}

void fill_gaussian_2d(int width, float spread, PlaneSet<float> matrix) {
  // An even width has no centre pixel and a spread that is not positive
  // (or NaN) has no Gaussian; plain unit weights stay usable by the update.
  if (width <= 0) {
    return;
  }
  if (width % 2 == 0 || !(static_cast<double>(spread) > 0.0)) {
    fill_ones(width, matrix);
    return;
  }
  const int h = (width + 1) / 2;
  const double a = 1.0 / (2.0 * static_cast<double>(spread));
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < h; ++j) {
      const float v = static_cast<float>(std::exp(-(a * j * j + a * i * i)));
      matrix[h - 1 - i][h - 1 + j] = v;
      matrix[h - 1 + i][h - 1 - j] = v;
      matrix[h - 1 - i][h - 1 - j] = v;
      matrix[h - 1 + i][h - 1 + j] = v;
    }
  }
  const double inverse_corner = 1.0 / static_cast<double>(matrix[width - 1][width - 1]);
  for (int r = 0; r < width; ++r) {
    for (int c = 0; c < width; ++c) {
      matrix[r][c] = static_cast<float>(std::trunc(static_cast<double>(matrix[r][c]) * inverse_corner + 0.5));
    }
  }
}

PlaneSet<float> make_kernel_2d(int width) {
  if (width <= 0) {
    return nullptr;
  }
  PlaneSet<float> kernel = alloc_float_planes(width, static_cast<std::size_t>(width));
  fill_gaussian_2d(width, spread_for_width(width), kernel);
  return kernel;
}

std::string kernel_2d_text(const PlaneSet<float> kernel, int width) {
  std::string text = "Filtro Gaussiano di ampiezza " + std::to_string(width) + ":\n";
  char entry[32];
  for (int r = 0; r < width; ++r) {
    for (int c = 0; c < width; ++c) {
      std::snprintf(entry, sizeof entry, "%2.0f", static_cast<double>(kernel[r][c]));
      text += entry;
    }
    text += "\n";
  }
  return text;
}

void scale_matrix(int width, float factor, const PlaneSet<float> source, PlaneSet<float> target) {
  const double f = factor;
  for (int r = 0; r < width; ++r) {
    for (int c = 0; c < width; ++c) {
      target[r][c] = static_cast<float>(f * static_cast<double>(source[r][c]));
    }
  }
}

void seed_model(const ModelSettings& s, PlaneSet<float>* bg_model, const PlaneSet<float> image,
                std::size_t pixel_count, int n) {
  // Without a mask buffer every pixel counts, as with the all-255 mask.
  const unsigned char* mask = s.search_mask;
  for (int k = 0; k < n; ++k) {
    for (int c = 0; c < 3; ++c) {
      float* layer_plane = bg_model[k][c];
      const float* image_plane = image[c];
      for (std::size_t p = 0; p < pixel_count; ++p) {
        if (mask == nullptr || mask[p] != 0) {
          layer_plane[p] = image_plane[p];
        }
      }
    }
  }
}

}  // namespace strellix
