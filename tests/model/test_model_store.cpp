#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "core/settings.h"
#include "model/model_store.h"

using namespace strellix;

namespace {

using Matrix = std::vector<std::vector<float>>;

Matrix kernel_2d_as_matrix(int width) {
  PlaneSet<float> kernel = make_kernel_2d(width);
  Matrix m(width, std::vector<float>(width));
  for (int r = 0; r < width; ++r) {
    for (int c = 0; c < width; ++c) {
      m[r][c] = kernel[r][c];
    }
  }
  free_planes(kernel, width);
  return m;
}

std::vector<float> kernel_1d_as_vector(int width) {
  float* kernel = make_kernel_1d(width);
  std::vector<float> v(kernel, kernel + width);
  std::free(kernel);
  return v;
}

// Every usable 2D kernel: positive whole numbers, corners 1, and the same
// under transposition and both mirrorings.
void expect_sound_kernel_2d(const Matrix& m) {
  const int w = static_cast<int>(m.size());
  for (int r = 0; r < w; ++r) {
    for (int c = 0; c < w; ++c) {
      SCOPED_TRACE("width " + std::to_string(w) + " at " + std::to_string(r) + "," + std::to_string(c));
      EXPECT_GE(m[r][c], 1.0f);
      EXPECT_EQ(m[r][c], std::trunc(m[r][c]));
      EXPECT_EQ(m[r][c], m[c][r]);
      EXPECT_EQ(m[r][c], m[w - 1 - r][c]);
      EXPECT_EQ(m[r][c], m[r][w - 1 - c]);
    }
  }
  EXPECT_EQ(m[0][0], 1.0f);
  EXPECT_EQ(m[w - 1][w - 1], 1.0f);
}

}  // namespace

TEST(ModelStoreKernel1d, TabledWidthsHaveUnitCentreAndScaledTable) {
  EXPECT_EQ(kernel_1d_as_vector(1), (std::vector<float>{1.0f}));
  EXPECT_EQ(kernel_1d_as_vector(3),
            (std::vector<float>{static_cast<float>(1.0 / 3), 1.0f, static_cast<float>(1.0 / 3)}));
  EXPECT_EQ(kernel_1d_as_vector(5), (std::vector<float>{0.2f, 0.8f, 1.0f, 0.8f, 0.2f}));
  EXPECT_EQ(kernel_1d_as_vector(7),
            (std::vector<float>{static_cast<float>(1.0 / 7), static_cast<float>(4.0 / 7),
                                static_cast<float>(6.0 / 7), 1.0f, static_cast<float>(6.0 / 7),
                                static_cast<float>(4.0 / 7), static_cast<float>(1.0 / 7)}));
}

TEST(ModelStoreKernel1d, UntabledWidthsAreAllZero) {
  for (int width : {2, 4, 6, 8, 9, 11}) {
    EXPECT_EQ(kernel_1d_as_vector(width), std::vector<float>(width, 0.0f)) << "width " << width;
  }
}

TEST(ModelStoreKernel2d, WidthsThreeAndFiveGiveTheKnownMatrices) {
  EXPECT_EQ(kernel_2d_as_matrix(3), (Matrix{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}));
  EXPECT_EQ(kernel_2d_as_matrix(5),
            (Matrix{{1, 2, 2, 2, 1}, {2, 4, 5, 4, 2}, {2, 5, 6, 5, 2}, {2, 4, 5, 4, 2}, {1, 2, 2, 2, 1}}));
}

TEST(ModelStoreKernel2d, MiddleRowsOfSevenAndNine) {
  EXPECT_EQ(kernel_2d_as_matrix(7)[3], (std::vector<float>{3, 5, 7, 8, 7, 5, 3}));
  EXPECT_EQ(kernel_2d_as_matrix(9)[4], (std::vector<float>{3, 5, 7, 9, 10, 9, 7, 5, 3}));
}

TEST(ModelStoreKernel2d, TabledWidthsAreSoundWithCentreWidthPlusOne) {
  for (int width = 3; width <= 9; width += 2) {
    const Matrix m = kernel_2d_as_matrix(width);
    expect_sound_kernel_2d(m);
    EXPECT_EQ(m[width / 2][width / 2], static_cast<float>(width + 1)) << "width " << width;
  }
  // Width 1 is the pixel alone, its own corner.
  EXPECT_EQ(kernel_2d_as_matrix(1), (Matrix{{1.0f}}));
}

TEST(ModelStoreKernel2d, WidthsWithoutSpreadStillGiveUsableWeights) {
  for (int width : {2, 4, 8, 11, 15}) {
    SCOPED_TRACE("width " + std::to_string(width));
    expect_sound_kernel_2d(kernel_2d_as_matrix(width));
  }
  EXPECT_EQ(make_kernel_2d(0), nullptr);
}

TEST(ModelStoreKernel2d, GaussianFillRejectsSpreadsWithoutAGaussian) {
  const int width = 3;
  for (float spread : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    PlaneSet<float> m = alloc_float_planes(width, width);
    fill_gaussian_2d(width, spread, m);
    for (int r = 0; r < width; ++r) {
      for (int c = 0; c < width; ++c) {
        EXPECT_EQ(m[r][c], 1.0f) << "spread " << spread;
      }
    }
    free_planes(m, width);
  }
}

TEST(ModelStoreKernels, TextIsTheTableAProgramPrints) {
  float* kernel_1d = make_kernel_1d(5);
  PlaneSet<float> kernel_2d = make_kernel_2d(3);
  EXPECT_EQ(kernel_1d_text(kernel_1d, 5) + kernel_2d_text(kernel_2d, 3),
            "Filtro Gaussiano 1D di ampiezza 5:\n 0.20 0.80 1.00 0.80 0.20\n"
            "Filtro Gaussiano di ampiezza 3:\n 1 2 1\n 2 4 2\n 1 2 1\n");
  std::free(kernel_1d);
  free_planes(kernel_2d, 3);
}

TEST(ModelStoreScaleMatrix, ScalesEveryEntryIntoTheTarget) {
  PlaneSet<float> kernel = make_kernel_2d(3);
  PlaneSet<float> rate = alloc_float_planes(3, 3);

  scale_matrix(3, 0.05f, kernel, rate);
  EXPECT_EQ(rate[1][1], 0.2f);
  EXPECT_EQ(rate[0][0], 0.05f);
  EXPECT_EQ(rate[2][2], 0.05f);
  EXPECT_EQ(rate[0][1], 0.1f);
  EXPECT_EQ(kernel[1][1], 4.0f) << "the source must stay as it was";

  scale_matrix(3, 0.0f, kernel, rate);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(rate[r][c], 0.0f);
    }
  }
  free_planes(rate, 3);
  free_planes(kernel, 3);
}

TEST(ModelStoreModel, AllocatesZeroLayersAndFreesToNull) {
  const int n = 4;
  const std::size_t pixels = 7;
  PlaneSet<float>* model = alloc_model(n, pixels);
  for (int k = 0; k < n; ++k) {
    for (int c = 0; c < 3; ++c) {
      for (std::size_t p = 0; p < pixels; ++p) {
        EXPECT_EQ(model[k][c][p], 0.0f);
      }
    }
  }
  EXPECT_NE(model[0][0], model[1][0]) << "layers must not share planes";
  free_model(model, n);
  EXPECT_EQ(model, nullptr);
  free_model(model, n);  // a second release is harmless

  PlaneSet<float>* empty = alloc_model(0, pixels);
  free_model(empty, 0);
  EXPECT_EQ(empty, nullptr);
}

TEST(ModelStoreSeed, CopiesOnlyWhereTheSearchMaskIsSet) {
  const int n = 3;
  const std::size_t pixels = 5;
  const unsigned char mask[pixels] = {255, 0, 1, 0, 255};
  ModelSettings settings;
  settings.search_mask = mask;

  PlaneSet<float> image = alloc_float_planes(3, pixels);
  for (int c = 0; c < 3; ++c) {
    for (std::size_t p = 0; p < pixels; ++p) {
      image[c][p] = 0.1f * static_cast<float>(c + 1) + 0.01f * static_cast<float>(p) - 0.5f;
    }
  }
  PlaneSet<float>* model = alloc_model(n, pixels);
  seed_model(settings, model, image, pixels, n);
  for (int k = 0; k < n; ++k) {
    for (int c = 0; c < 3; ++c) {
      for (std::size_t p = 0; p < pixels; ++p) {
        EXPECT_EQ(model[k][c][p], mask[p] != 0 ? image[c][p] : 0.0f)
            << "layer " << k << " plane " << c << " pixel " << p;
      }
    }
  }

  // Nothing to copy: no layers, or no pixels.
  PlaneSet<float>* untouched = alloc_model(n, pixels);
  seed_model(settings, untouched, image, pixels, 0);
  seed_model(settings, untouched, image, 0, n);
  for (int k = 0; k < n; ++k) {
    for (std::size_t p = 0; p < pixels; ++p) {
      EXPECT_EQ(untouched[k][0][p], 0.0f);
    }
  }
  free_model(untouched, n);
  free_model(model, n);
  free_planes(image, 3);
}

TEST(ModelStoreSeed, WithoutAMaskBufferEveryPixelIsCopied) {
  const ModelSettings without_mask;
  PlaneSet<float> image = alloc_float_planes(3, 2);
  image[2][1] = 0.75f;
  PlaneSet<float>* model = alloc_model(2, 2);
  seed_model(without_mask, model, image, 2, 2);
  EXPECT_EQ(model[0][2][1], 0.75f);
  EXPECT_EQ(model[1][2][1], 0.75f);
  free_model(model, 2);
  free_planes(image, 3);
}
