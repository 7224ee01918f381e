// The layered background model and the weight kernels of its update.
#pragma once

#include <string>

#include "core/plane_set.h"
#include "core/settings.h"

namespace strellix {

// n layers, each a float plane set of 3 planes of pixel_count elements:
// first the layer array, then layers 0..n-1.
PlaneSet<float>* alloc_model(int n, std::size_t pixel_count);
// Frees layers 0..n-1, then the array; the pointer becomes null.
void free_model(PlaneSet<float>*& bg_model, int n);

// New kernel of `width` floats (release with free()).
float* make_kernel_1d(int width);
// New width x width kernel (release with free_planes(kernel, width)).
PlaneSet<float> make_kernel_2d(int width);
// The kernels as a program prints them on request ("Filtro Gaussiano
// ..."); the library itself prints nothing.
std::string kernel_1d_text(const float* kernel, int width);
std::string kernel_2d_text(const PlaneSet<float> kernel, int width);
void fill_gaussian_2d(int width, float spread, PlaneSet<float> matrix);
// target(r, c) = factor * source(r, c).
void scale_matrix(int width, float factor, const PlaneSet<float> source, PlaneSet<float> target);
// Copies the image into every layer where search_mask is nonzero.
void seed_model(const ModelSettings& s, PlaneSet<float>* bg_model, const PlaneSet<float> image,
                std::size_t pixel_count, int n);

}  // namespace strellix
