// The settings a test hands to the model passes, together with the search
// mask and the 1D kernel they point at. The mask starts as 255 everywhere;
// a test clears bytes of it to take pixels out of the search area.
#pragma once

#include <cstddef>
#include <vector>

#include "core/settings.h"

class TestSettings {
 public:
  // An all-255 mask of `pixels` bytes and the kernel of make_kernel_1d(width_1d).
  explicit TestSettings(std::size_t pixels, int width_1d = 3);
  TestSettings(const TestSettings&) = delete;
  TestSettings& operator=(const TestSettings&) = delete;

  // A new all-255 mask of `pixels` bytes.
  void reset_mask(std::size_t pixels);
  unsigned char& mask(std::size_t p) { return mask_[p]; }

  // The kernel of make_kernel_1d(width), or the given weights; width_1d
  // follows.
  void use_kernel(int width);
  void use_kernel(const std::vector<float>& weights);

  // Passed to the passes; the other fields are the test's to set.
  strellix::ModelSettings s;

 private:
  std::vector<unsigned char> mask_;
  std::vector<float> kernel_;
};
