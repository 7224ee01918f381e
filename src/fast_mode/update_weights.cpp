#include "fast_mode/update_weights.h"

#include <algorithm>
#include <cmath>

namespace strellix {
namespace fast {

namespace {

// True when every kernel entry is its row's first entry times its first
// row's entry: the window then sums by rows and by columns. Wider kernels
// (rounded Gaussians) are not products, and the 1-2-1 horizontal sums of
// the update assume that row exactly.
bool separates(const UpdateWeights& w) {
  if (w.half == 0) return true;
  if (w.half != 1) return false;
  const float* k = w.kernel.data();
  if (k[0] != 1.0f || k[1] != 2.0f || k[2] != 1.0f) return false;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (k[r * 3 + c] != k[r * 3] * k[c]) return false;
  return true;
}

void fill_edge(UpdateWeights& w) {
  const int h = w.half;
  w.edge_words.assign(static_cast<std::size_t>(w.width) * 16, 0);
  for (int dx = -h; dx <= h; ++dx) {
    for (int lane = 0; lane < 16; ++lane) {
      const int centre = lane + dx;
      if (centre >= 0)
        w.edge_words[static_cast<std::size_t>(dx + h) * 16 + lane] =
            static_cast<short>(w.kernel[static_cast<std::size_t>(kernel_row_for(h, lane, centre))]);
    }
  }
  w.edge.assign(static_cast<std::size_t>(w.width) * w.width * 8, 0.0f);
  for (int row = 0; row < w.width; ++row) {
    for (int dx = -h; dx <= h; ++dx) {
      for (int lane = 0; lane < 8; ++lane) {
        const int centre = lane + dx;
        if (centre < 0) continue;  // no centre there
        // The same rule as for rows (kernel_row_for), along the row.
        const int column = kernel_row_for(h, lane, centre);
        w.edge[(static_cast<std::size_t>(row) * w.width + (dx + h)) * 8 + lane] =
            w.kernel[static_cast<std::size_t>(row) * w.width + column];
      }
    }
  }
}

// As update_layers_1d picks them: the window of layers around the taught
// one, clipped at layer 0 with the kernel shifted, the taught layer left
// out.
void fill_one_d(UpdateWeights& w, int layers, int width_1d, const float* kernel_1d, float learning_rate) {
  const int slots = layers + 1;
  // Eight spare entries at the end: the kernels load a row eight at a time.
  w.one_d.assign(static_cast<std::size_t>(layers) * slots + 8, 0.0f);
  if (width_1d < 1) return;
  const int hw = width_1d / 2;
  for (int m = 0; m < layers; ++m) {
    const int lo = std::max(0, m - hw);
    const int hi = std::min({layers, m + hw + 1, lo + width_1d});
    for (int j = lo; j < hi; ++j) {
      if (j == m) continue;
      w.one_d[static_cast<std::size_t>(j) * slots + (m + 1)] =
          static_cast<float>(static_cast<double>(learning_rate) * kernel_1d[j - lo]);
    }
  }
}

// The most weight units one target can gather: every centre of its window
// teaching one layer. Near the top left edge the anchored kernels give the
// first rows and columns more than the interior.
int most_gathered(const UpdateWeights& w) {
  const int h = w.half;
  int most = 0;
  for (int row = 0; row <= 2 * h; ++row) {
    for (int col = 0; col <= 2 * h; ++col) {
      int sum = 0;
      for (int y = std::max(0, row - h); y <= row + h; ++y)
        for (int x = std::max(0, col - h); x <= col + h; ++x)
          sum += static_cast<int>(w.kernel[static_cast<std::size_t>(kernel_row_for(h, row, y)) * w.width +
                                           kernel_row_for(h, col, x)]);
      most = std::max(most, sum);
    }
  }
  return most;
}

// A share of at most 1 as a 15-bit fraction (1 itself just below).
short fraction(double share) {
  return static_cast<short>(std::min(32767L, std::lround(share * 32768.0)));
}

void fill_fixed_point(UpdateWeights& w, int layers) {
  w.inverse_fraction.assign(32, 0);
  for (int k = 1; k < 32; ++k) w.inverse_fraction[k] = fraction(1.0 / k);
  bool blends_below_one = true;
  const int slots = layers + 1;
  w.one_d_fraction.assign(static_cast<std::size_t>(layers) * 8, 0);
  for (int j = 0; j < layers && slots <= 8; ++j) {
    for (int m = 0; m < slots; ++m) {
      const float weight = w.one_d[static_cast<std::size_t>(j) * slots + m];
      blends_below_one = blends_below_one && weight >= 0.0f && weight < 1.0f;
      w.one_d_fraction[static_cast<std::size_t>(j) * 8 + m] = fraction(weight);
    }
  }
  w.fixed_point_possible = w.separable && slots <= 8 && blends_below_one && most_gathered(w) <= 31;
}

}  // namespace

UpdateWeights make_update_weights(int layers, int width_1d, const float* kernel_1d, int width_2d,
                                  const float* const* kernel_2d, float learning_rate) {
  UpdateWeights w;
  w.half = width_2d / 2;
  w.width = 2 * w.half + 1;
  w.kernel.assign(static_cast<std::size_t>(w.width) * w.width, 0.0f);
  for (int r = 0; r < w.width && r < width_2d; ++r)
    for (int c = 0; c < w.width && c < width_2d; ++c)
      w.kernel[static_cast<std::size_t>(r) * w.width + c] = kernel_2d[r][c];
  w.separable = separates(w);
  fill_edge(w);
  fill_one_d(w, layers, width_1d, kernel_1d, learning_rate);
  fill_fixed_point(w, layers);
  return w;
}

void set_rate(UpdateWeights& w, float rate) {
  if (rate == w.grow_rate && !w.grow.empty()) return;
  const int counts = most_gathered(w) + 1;
  // Padded to 32 entries for the kernels' table lookups.
  w.grow.assign(static_cast<std::size_t>(std::max(counts, 32)), 0.0f);
  w.grow_size = counts;
  const double keep = 1.0 - static_cast<double>(rate);
  for (int k = 1; k < counts; ++k) w.grow[k] = static_cast<float>((1.0 - std::pow(keep, k)) / k);
  w.window.resize(w.kernel.size());
  for (std::size_t i = 0; i < w.kernel.size(); ++i)
    w.window[i] = static_cast<float>(static_cast<double>(rate) * w.kernel[i]);
  // (1 - e^(-x)) / x = 1 - x/2 + x^2/6 - x^3/24 + ..., x = K lambda with
  // keep = e^(-lambda): to the cubic term the error stays below x^4/120.
  const double lambda = keep > 0.0 ? -std::log(keep) : 0.0;
  const double largest_x = lambda * (counts - 1);
  w.grow_polynomial = keep > 0.0 && largest_x <= 0.35;
  const double c[4] = {lambda, -lambda * lambda / 2.0, lambda * lambda * lambda / 6.0,
                       -lambda * lambda * lambda * lambda / 24.0};
  for (int i = 0; i < 4; ++i) w.grow_coefficients[i] = static_cast<float>(c[i]);
  w.grow_fraction.assign(32, 0);
  for (int k = 1; k < 32; ++k) w.grow_fraction[k] = fraction(1.0 - std::pow(keep, k));
  w.fixed_point = w.fixed_point_possible && rate >= 0.0f && rate < 1.0f;
  w.grow_rate = rate;
}

}  // namespace fast
}  // namespace strellix
