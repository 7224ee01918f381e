#include "support/test_settings.h"

#include <cstdlib>

#include "model/model_store.h"

TestSettings::TestSettings(std::size_t pixels, int width_1d) {
  reset_mask(pixels);
  use_kernel(width_1d);
}

void TestSettings::reset_mask(std::size_t pixels) {
  mask_.assign(pixels, 255);
  s.search_mask = mask_.data();
}

void TestSettings::use_kernel(int width) {
  float* kernel = strellix::make_kernel_1d(width);
  use_kernel(std::vector<float>(kernel, kernel + width));
  std::free(kernel);
}

void TestSettings::use_kernel(const std::vector<float>& weights) {
  kernel_ = weights;
  s.kernel_1d = kernel_.data();
  s.width_1d = static_cast<int>(kernel_.size());
}
