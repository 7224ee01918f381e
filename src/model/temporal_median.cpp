// Per-pixel, per-channel temporal median over the stored frames.
//
// The store is laid out in tiles: a tile holds TILE_LANES consecutive
// pixels of one channel across all F frames, frame after frame, so the F
// values of one pixel-channel lie within one tile, and for the usual frame
// counts a whole tile stays in the first-level cache while it is searched. The median of every lane is
// then found at once by a bitwise search over the eight value bits: each
// step counts, lane by lane, the values that reach a per-lane threshold.
// The counting loops work on whole vectors of byte lanes without branches.
// The result is exactly the element (or pair) that sorting each
// pixel-channel would give.
#include "model/temporal_median.h"

#include "core/vector_width.h"
#include "core/worker_pool.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace strellix {

namespace {

constexpr std::size_t TILE_LANES = 64;
// Byte counters are flushed before they can wrap.
constexpr int MAX_FRAMES_PER_FLUSH = 255;
constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

// Byte lanes handled as one value; the compiler maps the arithmetic on them
// to vector instructions. The narrow kind suits every x86-64 processor, the
// wide kind those with 32-byte integer vectors. Both count exactly, so the
// result does not depend on which one runs. Vectors never cross a function
// boundary, so no calling convention depends on the target.
typedef unsigned char NarrowLanes __attribute__((vector_size(16)));
typedef unsigned char WideLanes __attribute__((vector_size(32)));

#define ALWAYS_INLINE inline __attribute__((always_inline))

// count[l] = number of frames in [first, last) (at most 255 of them) whose
// value in lane l is at least threshold[l]. A tile of vectors keeps the
// counters and thresholds in registers.
template <class Lanes>
ALWAYS_INLINE void count_at_least_chunk(const unsigned char* tile, int first, int last,
                                        const unsigned char* threshold, unsigned char* count) {
  constexpr std::size_t width = sizeof(Lanes);
  constexpr std::size_t vectors = TILE_LANES / width;
  Lanes limit[vectors];
  Lanes counter[vectors];
#pragma GCC unroll 4
  for (std::size_t g = 0; g < vectors; ++g) {
    std::memcpy(&limit[g], threshold + g * width, width);
    counter[g] = Lanes{};
  }
  for (int f = first; f < last; ++f) {
    const unsigned char* row = tile + static_cast<std::size_t>(f) * TILE_LANES;
#pragma GCC unroll 4
    for (std::size_t g = 0; g < vectors; ++g) {
      Lanes v;
      std::memcpy(&v, row + g * width, width);
      // A true lane compares as all ones, that is -1.
      counter[g] -= (Lanes)(v >= limit[g]);
    }
  }
#pragma GCC unroll 4
  for (std::size_t g = 0; g < vectors; ++g) {
    std::memcpy(count + g * width, &counter[g], width);
  }
}

// count[l] = number of frames in [first, last) (at most 255) whose value
// in lane l is at most pivot[l]; above[l] is lowered to the smallest value
// greater than pivot[l] among them.
template <class Lanes>
ALWAYS_INLINE void count_not_above_chunk(const unsigned char* tile, int first, int last,
                                         const unsigned char* pivot, unsigned char* count,
                                         unsigned char* above) {
  constexpr std::size_t width = sizeof(Lanes);
  constexpr std::size_t vectors = TILE_LANES / width;
  Lanes limit[vectors];
  Lanes counter[vectors];
  Lanes smallest[vectors];
#pragma GCC unroll 4
  for (std::size_t g = 0; g < vectors; ++g) {
    std::memcpy(&limit[g], pivot + g * width, width);
    std::memcpy(&smallest[g], above + g * width, width);
    counter[g] = Lanes{};
  }
  for (int f = first; f < last; ++f) {
    const unsigned char* row = tile + static_cast<std::size_t>(f) * TILE_LANES;
#pragma GCC unroll 4
    for (std::size_t g = 0; g < vectors; ++g) {
      Lanes v;
      std::memcpy(&v, row + g * width, width);
      const Lanes not_above = (Lanes)(v <= limit[g]);
      counter[g] -= not_above;
      // Values not above the pivot read as 255, which never lowers the minimum.
      const Lanes candidate = v | not_above;
      smallest[g] = smallest[g] < candidate ? smallest[g] : candidate;
    }
  }
#pragma GCC unroll 4
  for (std::size_t g = 0; g < vectors; ++g) {
    std::memcpy(count + g * width, &counter[g], width);
    std::memcpy(above + g * width, &smallest[g], width);
  }
}

using CountAtLeast = void (*)(const unsigned char*, int, int, const unsigned char*, unsigned char*);
using CountNotAbove = void (*)(const unsigned char*, int, int, const unsigned char*, unsigned char*,
                               unsigned char*);

struct CountingKernels {
  CountAtLeast at_least;
  CountNotAbove not_above;
};

void count_at_least_narrow(const unsigned char* tile, int first, int last, const unsigned char* threshold,
                           unsigned char* count) {
  count_at_least_chunk<NarrowLanes>(tile, first, last, threshold, count);
}

void count_not_above_narrow(const unsigned char* tile, int first, int last, const unsigned char* pivot,
                            unsigned char* count, unsigned char* above) {
  count_not_above_chunk<NarrowLanes>(tile, first, last, pivot, count, above);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define HAVE_WIDE_KERNELS 1

__attribute__((target("avx2"))) void count_at_least_wide(const unsigned char* tile, int first, int last,
                                                         const unsigned char* threshold,
                                                         unsigned char* count) {
  count_at_least_chunk<WideLanes>(tile, first, last, threshold, count);
}

__attribute__((target("avx2"))) void count_not_above_wide(const unsigned char* tile, int first, int last,
                                                          const unsigned char* pivot, unsigned char* count,
                                                          unsigned char* above) {
  count_not_above_chunk<WideLanes>(tile, first, last, pivot, count, above);
}
#endif

CountingKernels choose_counting_kernels(const PassExecution& run) {
#ifdef HAVE_WIDE_KERNELS
  if (run.wide) {
    return CountingKernels{count_at_least_wide, count_not_above_wide};
  }
#endif
  return CountingKernels{count_at_least_narrow, count_not_above_narrow};
}

}  // namespace

struct FrameStore {
  int frame_count;
  std::size_t pixel_count;
  std::size_t tiles_per_channel;
  unsigned char* values;  // 3 * tiles_per_channel tiles of TILE_LANES * frame_count bytes
  void* block;            // the allocation that holds `values`
};

namespace {

unsigned char* tile_start(const FrameStore* store, int channel, std::size_t tile) {
  const std::size_t tile_index = static_cast<std::size_t>(channel) * store->tiles_per_channel + tile;
  return store->values + tile_index * TILE_LANES * static_cast<std::size_t>(store->frame_count);
}

// End of the chunk of frames that starts at `first`, never past frame_count
// (and never overflowing, whatever frame_count is).
int last_of_chunk(int first, int frame_count) {
  return frame_count - first > MAX_FRAMES_PER_FLUSH ? first + MAX_FRAMES_PER_FLUSH : frame_count;
}

// at_least[l] = number of frames whose value in lane l is at least threshold[l].
void count_at_least(const CountingKernels& kernels, const unsigned char* tile, int frame_count,
                    const unsigned char* threshold, std::uint32_t* at_least) {
  for (std::size_t l = 0; l < TILE_LANES; ++l) {
    at_least[l] = 0;
  }
  unsigned char partial[TILE_LANES];
  for (int first = 0; first < frame_count; first = last_of_chunk(first, frame_count)) {
    const int last = last_of_chunk(first, frame_count);
    kernels.at_least(tile, first, last, threshold, partial);
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
      at_least[l] += partial[l];
    }
  }
}

// For lane l: at_most[l] = number of values <= pivot[l], and above[l] = the
// smallest value greater than pivot[l] (255 when there is none).
void count_and_next_above(const CountingKernels& kernels, const unsigned char* tile, int frame_count,
                          const unsigned char* pivot, std::uint32_t* at_most, unsigned char* above) {
  for (std::size_t l = 0; l < TILE_LANES; ++l) {
    at_most[l] = 0;
    above[l] = 255;
  }
  unsigned char partial[TILE_LANES];
  for (int first = 0; first < frame_count; first = last_of_chunk(first, frame_count)) {
    const int last = last_of_chunk(first, frame_count);
    kernels.not_above(tile, first, last, pivot, partial, above);
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
      at_most[l] += partial[l];
    }
  }
}

// selected[l] = the value of rank `rank` (0 = smallest) in lane l: the
// largest v that at least F - rank values reach, built bit by bit.
void select_rank(const CountingKernels& kernels, const unsigned char* tile, int frame_count,
                 std::uint32_t rank, unsigned char* selected) {
  const std::uint32_t needed = static_cast<std::uint32_t>(frame_count) - rank;
  unsigned char candidate[TILE_LANES];
  std::uint32_t at_least[TILE_LANES];
  for (std::size_t l = 0; l < TILE_LANES; ++l) {
    selected[l] = 0;
  }
  for (int bit = 7; bit >= 0; --bit) {
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
      candidate[l] = static_cast<unsigned char>(selected[l] | (1u << bit));
    }
    count_at_least(kernels, tile, frame_count, candidate, at_least);
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
      selected[l] = at_least[l] >= needed ? candidate[l] : selected[l];
    }
  }
}

void median_of_tile(const CountingKernels& kernels, const unsigned char* tile, int frame_count,
                    unsigned char* median) {
  // Element (F-1)/2 is the middle one for odd F and the lower middle one
  // for even F.
  const std::uint32_t lower_rank = static_cast<std::uint32_t>(frame_count - 1) / 2;
  select_rank(kernels, tile, frame_count, lower_rank, median);
  if (frame_count % 2 != 0) {
    return;
  }
  // The upper middle element equals the lower one when that value also
  // fills rank F/2, and is otherwise the next larger value present.
  std::uint32_t at_most[TILE_LANES];
  unsigned char above[TILE_LANES];
  count_and_next_above(kernels, tile, frame_count, median, at_most, above);
  for (std::size_t l = 0; l < TILE_LANES; ++l) {
    const unsigned upper = at_most[l] >= lower_rank + 2 ? median[l] : above[l];
    median[l] = static_cast<unsigned char>((median[l] + upper) / 2);
  }
}

}  // namespace

FrameStore* alloc_frame_store(int frame_count, std::size_t pixel_count) {
  FrameStore* store = static_cast<FrameStore*>(checked_calloc(1, sizeof(FrameStore)));
  // A median needs at least one frame; an empty store would have no values.
  store->frame_count = frame_count > 0 ? frame_count : 1;
  store->pixel_count = pixel_count;
  store->tiles_per_channel = (pixel_count + TILE_LANES - 1) / TILE_LANES;
  const std::size_t frames = static_cast<std::size_t>(store->frame_count);
  const std::size_t limit = SIZE_MAX - HUGE_PAGE_BYTES;
  if (store->tiles_per_channel > limit / (3 * TILE_LANES) ||
      frames > limit / (std::max<std::size_t>(3 * store->tiles_per_channel, 1) * TILE_LANES)) {
    std::free(store);
    throw AllocationFailure(SIZE_MAX);  // a size past all memory
  }
  const std::size_t tile_bytes = std::max<std::size_t>(3 * store->tiles_per_channel, 1) * TILE_LANES;
  const std::size_t bytes = tile_bytes * frames;
  // The store is written once, scattered over its whole extent; on large
  // pages that costs a few hundred page faults instead of tens of
  // thousands. A store that fills large pages starts on a page boundary.
  // The block is zero-filled by the allocator.
  const std::size_t alignment = bytes >= HUGE_PAGE_BYTES ? HUGE_PAGE_BYTES : 1;
  try {
    store->block = checked_calloc(bytes + alignment - 1, 1);
  } catch (const AllocationFailure&) {
    std::free(store);
    throw;
  }
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(store->block);
  const std::uintptr_t aligned = (start + alignment - 1) / alignment * alignment;
  store->values = static_cast<unsigned char*>(store->block) + (aligned - start);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const std::size_t whole_pages = bytes / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
  if (whole_pages > 0) {
    madvise(store->values, whole_pages, MADV_HUGEPAGE);  // only advice: failure changes nothing
  }
#endif
  return store;
}

void free_frame_store(FrameStore*& store) {
  if (store == nullptr) {
    return;
  }
  std::free(store->block);
  std::free(store);
  store = nullptr;
}

void store_frame(FrameStore* store, int k, const PlaneSet<unsigned char> planes) {
  // A frame number outside the store has no place in it.
  if (k < 0 || k >= store->frame_count) {
    return;
  }
  const std::size_t frame_offset = static_cast<std::size_t>(k) * TILE_LANES;
  for (int c = 0; c < 3; ++c) {
    const unsigned char* plane = planes[c];
    for (std::size_t t = 0; t < store->tiles_per_channel; ++t) {
      const std::size_t first_pixel = t * TILE_LANES;
      const std::size_t lanes = std::min(TILE_LANES, store->pixel_count - first_pixel);
      std::memcpy(tile_start(store, c, t) + frame_offset, plane + first_pixel, lanes);
    }
  }
}

void compute_median(const PassExecution& run, const FrameStore* store, PlaneSet<unsigned char> result) {
  const CountingKernels kernels = choose_counting_kernels(run);
  // Tiles are independent and each writes its own pixels, so they are
  // shared out among the worker threads in any order.
  const std::size_t tiles = store->tiles_per_channel;
  const int count = static_cast<int>(std::min<std::size_t>(3 * tiles, INT_MAX));
  const auto tiles_between = [&](std::size_t begin, std::size_t end) {
    unsigned char median[TILE_LANES];
    for (std::size_t i = begin; i < end; ++i) {
      const int c = static_cast<int>(i / tiles);
      const std::size_t t = i % tiles;
      median_of_tile(kernels, tile_start(store, c, t), store->frame_count, median);
      const std::size_t first_pixel = t * TILE_LANES;
      const std::size_t lanes = std::min(TILE_LANES, store->pixel_count - first_pixel);
      std::memcpy(result[c] + first_pixel, median, lanes);
    }
  };
  if (static_cast<std::size_t>(count) != 3 * tiles) {
    tiles_between(0, 3 * tiles);
    return;
  }
  run_split(run.workers, count, 64, [&](int begin, int end) { tiles_between(begin, end); });
}

}  // namespace strellix
