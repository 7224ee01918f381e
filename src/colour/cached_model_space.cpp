#include "colour/cached_model_space.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "colour/colour_convert.h"
#include "core/settings.h"
#include "core/worker_pool.h"

namespace strellix {

// The cosine and sine of the hue are what a conversion costs, and a video
// shows far fewer colours than pixels: every colour is converted once, by
// the very arithmetic of frame_to_model, and remembered. The cache is cut
// into blocks of 16x16x16 neighbouring colours, allocated when a colour of
// the block first appears, so memory follows the colours seen; past
// MAX_BLOCKS blocks (64 MiB) colours of new blocks are converted every time
// instead.

namespace {

using Entry = std::atomic<std::uint64_t>;

constexpr std::size_t BLOCK_ENTRIES = std::size_t{1} << 12;
constexpr std::size_t BLOCK_COUNT = std::size_t{1} << 12;
constexpr int MAX_BLOCKS = 2048;
// Two all-ones floats: not numbers, which no conversion gives.
constexpr std::uint64_t EMPTY_ENTRY = ~std::uint64_t{0};

// Entries are atomics so that two threads converting the same new colour
// race harmlessly: both store the same bits.
std::atomic<Entry*> cache_blocks[BLOCK_COUNT];
std::atomic<int> blocks_made{0};

// The block, made now if the budget allows; null when it does not.
Entry* new_block(std::size_t b) {
  if (blocks_made.load(std::memory_order_relaxed) >= MAX_BLOCKS) return nullptr;
  if (blocks_made.fetch_add(1, std::memory_order_relaxed) >= MAX_BLOCKS) {
    blocks_made.fetch_sub(1, std::memory_order_relaxed);
    return nullptr;
  }
  Entry* fresh = new Entry[BLOCK_ENTRIES];
  for (std::size_t i = 0; i < BLOCK_ENTRIES; ++i) fresh[i].store(EMPTY_ENTRY, std::memory_order_relaxed);
  Entry* expected = nullptr;
  if (cache_blocks[b].compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) return fresh;
  delete[] fresh;
  blocks_made.fetch_sub(1, std::memory_order_relaxed);
  return expected;
}

std::uint64_t pack(float x, float y) {
  std::uint32_t xb, yb;
  std::memcpy(&xb, &x, sizeof xb);
  std::memcpy(&yb, &y, sizeof yb);
  return xb | (static_cast<std::uint64_t>(yb) << 32);
}

void unpack(std::uint64_t v, float& x, float& y) {
  const std::uint32_t xb = static_cast<std::uint32_t>(v);
  const std::uint32_t yb = static_cast<std::uint32_t>(v >> 32);
  std::memcpy(&x, &xb, sizeof x);
  std::memcpy(&y, &yb, sizeof y);
}

// The value of each byte, as rgb_to_hsv rounds it; the largest of the three
// rounded channels is the rounding of the largest byte.
struct ByteValues {
  float v[256];
  ByteValues() {
    const double inv = INV_255;
    for (int k = 0; k < 256; ++k) v[k] = static_cast<float>(k * inv);
  }
};

const ByteValues& byte_values() {
  static const ByteValues table;
  return table;
}

void convert_rows(const unsigned char* search_mask, const cv::Mat& image, PlaneSet<float> planes,
                  int row_begin, int row_end) {
  const int width = image.cols;
  const float* value_of = byte_values().v;
  float* px_out = planes[0];
  float* py_out = planes[1];
  float* pz_out = planes[2];
  for (int r = row_begin; r < row_end; ++r) {
    const unsigned char* row = image.ptr<unsigned char>(r);
    const std::size_t base = static_cast<std::size_t>(r) * width;
    const unsigned char* mask = search_mask + base;
    for (int c = 0; c < width; ++c) {
      if (mask[c] == 0) continue;
      const unsigned blue = row[3 * c];
      const unsigned green = row[3 * c + 1];
      const unsigned red = row[3 * c + 2];
      const ColourCacheSlot slot = colour_cache_slot(red, green, blue);
      const std::size_t b = slot.block;
      const std::size_t e = slot.entry;
      Entry* block = cache_blocks[b].load(std::memory_order_acquire);
      if (block == nullptr) block = new_block(b);
      float x, y;
      if (block == nullptr) {
        colour_to_cone_xy(static_cast<int>(red), static_cast<int>(green), static_cast<int>(blue), x, y);
      } else {
        std::uint64_t v = block[e].load(std::memory_order_relaxed);
        if (v == EMPTY_ENTRY) {
          colour_to_cone_xy(static_cast<int>(red), static_cast<int>(green), static_cast<int>(blue), x, y);
          v = pack(x, y);
          block[e].store(v, std::memory_order_relaxed);
        }
        unpack(v, x, y);
      }
      unsigned top = red > green ? red : green;
      top = top > blue ? top : blue;
      px_out[base + c] = x;
      py_out[base + c] = y;
      pz_out[base + c] = value_of[top];
    }
  }
}

}  // namespace

void colour_to_cone_xy(int red, int green, int blue, float& x, float& y) {
  float H, S, V;
  rgb_to_hsv(red, green, blue, H, S, V);
  const double h = static_cast<double>(H) * static_cast<double>(DEG_TO_RAD);
  x = static_cast<float>(std::cos(h) * S * V);
  y = static_cast<float>(std::sin(h) * S * V);
}

void frame_to_model_cached(const ModelSettings& s, const cv::Mat& image, PlaneSet<float> planes) {
  if (image.empty() || image.type() != CV_8UC3) return;
  byte_values();  // built before the threads start
  run_split(s.run.workers, image.rows, 16,
            [&](int begin, int end) { convert_rows(s.search_mask, image, planes, begin, end); });
}

void frame_to_model_cached_on_caller(const ModelSettings& s, const cv::Mat& image, PlaneSet<float> planes) {
  if (image.empty() || image.type() != CV_8UC3) return;
  convert_rows(s.search_mask, image, planes, 0, image.rows);
}

}  // namespace strellix
