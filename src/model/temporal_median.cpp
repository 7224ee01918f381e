// Per-pixel, per-channel temporal median over the stored frames.
//
// The store is laid out in tiles: a tile holds TILE_LANES consecutive
// pixels of one channel across all F frames, frame after frame, so the F
// values of one pixel-channel lie within one tile and a whole tile stays in
// the first-level cache while it is searched. The median of every lane is
// then found at once by a bitwise search over the eight value bits: each
// step counts, lane by lane, the values below a per-lane threshold. The
// counting loops have a fixed lane count and no branches, so the compiler
// turns them into vector code. The result is exactly the element (or pair)
// that sorting each pixel-channel would give.
#include "model/temporal_median.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Sixteen byte lanes handled as one value; the compiler maps the arithmetic
// on it to vector instructions where the target has them.
typedef unsigned char ByteLanes __attribute__((vector_size(16)));
constexpr std::size_t LANES_PER_VECTOR = sizeof(ByteLanes);
// Four vectors per tile keep the counters and thresholds in registers.
constexpr std::size_t VECTORS_PER_TILE = 4;
constexpr std::size_t TILE_LANES = LANES_PER_VECTOR * VECTORS_PER_TILE;
// Byte counters are flushed before they can wrap.
constexpr int MAX_FRAMES_PER_FLUSH = 255;

ByteLanes load_lanes(const unsigned char* bytes)
{
    ByteLanes lanes;
    std::memcpy(&lanes, bytes, sizeof lanes);
    return lanes;
}

void store_lanes(unsigned char* bytes, ByteLanes lanes)
{
    std::memcpy(bytes, &lanes, sizeof lanes);
}

}  // namespace

struct FrameStore {
    int frame_count;
    std::size_t pixel_count;
    std::size_t tiles_per_channel;
    unsigned char* values;  // 3 * tiles_per_channel tiles of TILE_LANES * frame_count bytes
};

namespace {

unsigned char* tile_start(const FrameStore* store, int channel, std::size_t tile)
{
    const std::size_t tile_index = static_cast<std::size_t>(channel) * store->tiles_per_channel + tile;
    return store->values + tile_index * TILE_LANES * static_cast<std::size_t>(store->frame_count);
}

// at_least[l] = number of frames whose value in lane l is at least threshold[l].
void count_at_least(const unsigned char* tile, int frame_count, const unsigned char* threshold,
                    std::uint32_t* at_least)
{
    ByteLanes limit[VECTORS_PER_TILE];
#pragma GCC unroll 4
    for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
        limit[g] = load_lanes(threshold + g * LANES_PER_VECTOR);
    }
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
        at_least[l] = 0;
    }
    for (int first = 0; first < frame_count; first += MAX_FRAMES_PER_FLUSH) {
        const int last = std::min(frame_count, first + MAX_FRAMES_PER_FLUSH);
        ByteLanes count[VECTORS_PER_TILE] = {};
        for (int f = first; f < last; ++f) {
            const unsigned char* row = tile + static_cast<std::size_t>(f) * TILE_LANES;
#pragma GCC unroll 4
            for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
                // A true lane compares as all ones, that is -1.
                count[g] -= (ByteLanes)(load_lanes(row + g * LANES_PER_VECTOR) >= limit[g]);
            }
        }
        unsigned char partial[TILE_LANES];
#pragma GCC unroll 4
        for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
            store_lanes(partial + g * LANES_PER_VECTOR, count[g]);
        }
        for (std::size_t l = 0; l < TILE_LANES; ++l) {
            at_least[l] += partial[l];
        }
    }
}

// selected[l] = the value of rank `rank` (0 = smallest) in lane l: the
// largest v that at least F - rank values reach, built bit by bit.
void select_rank(const unsigned char* tile, int frame_count, std::uint32_t rank,
                 unsigned char* selected)
{
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
        count_at_least(tile, frame_count, candidate, at_least);
        for (std::size_t l = 0; l < TILE_LANES; ++l) {
            selected[l] = at_least[l] >= needed ? candidate[l] : selected[l];
        }
    }
}

// For lane l: at_most[l] = number of values <= pivot[l], and above[l] = the
// smallest value greater than pivot[l] (255 when there is none).
void count_and_next_above(const unsigned char* tile, int frame_count, const unsigned char* pivot,
                          std::uint32_t* at_most, unsigned char* above)
{
    ByteLanes limit[VECTORS_PER_TILE];
    ByteLanes smallest[VECTORS_PER_TILE];
#pragma GCC unroll 4
    for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
        limit[g] = load_lanes(pivot + g * LANES_PER_VECTOR);
        smallest[g] = ByteLanes{} - 1;
    }
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
        at_most[l] = 0;
    }
    for (int first = 0; first < frame_count; first += MAX_FRAMES_PER_FLUSH) {
        const int last = std::min(frame_count, first + MAX_FRAMES_PER_FLUSH);
        ByteLanes count[VECTORS_PER_TILE] = {};
        for (int f = first; f < last; ++f) {
            const unsigned char* row = tile + static_cast<std::size_t>(f) * TILE_LANES;
#pragma GCC unroll 4
            for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
                const ByteLanes v = load_lanes(row + g * LANES_PER_VECTOR);
                const ByteLanes not_above = (ByteLanes)(v <= limit[g]);
                count[g] -= not_above;
                // Values not above the pivot read as 255, which never lowers the minimum.
                const ByteLanes candidate = v | not_above;
                smallest[g] = smallest[g] < candidate ? smallest[g] : candidate;
            }
        }
        unsigned char partial[TILE_LANES];
#pragma GCC unroll 4
        for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
            store_lanes(partial + g * LANES_PER_VECTOR, count[g]);
        }
        for (std::size_t l = 0; l < TILE_LANES; ++l) {
            at_most[l] += partial[l];
        }
    }
#pragma GCC unroll 4
    for (std::size_t g = 0; g < VECTORS_PER_TILE; ++g) {
        store_lanes(above + g * LANES_PER_VECTOR, smallest[g]);
    }
}

void median_of_tile(const unsigned char* tile, int frame_count, unsigned char* median)
{
    // Element (F-1)/2 is the middle one for odd F and the lower middle one
    // for even F.
    const std::uint32_t lower_rank = static_cast<std::uint32_t>(frame_count - 1) / 2;
    select_rank(tile, frame_count, lower_rank, median);
    if (frame_count % 2 != 0) {
        return;
    }
    // The upper middle element equals the lower one when that value also
    // fills rank F/2, and is otherwise the next larger value present.
    std::uint32_t at_most[TILE_LANES];
    unsigned char above[TILE_LANES];
    count_and_next_above(tile, frame_count, median, at_most, above);
    for (std::size_t l = 0; l < TILE_LANES; ++l) {
        const unsigned upper = at_most[l] >= lower_rank + 2 ? median[l] : above[l];
        median[l] = static_cast<unsigned char>((median[l] + upper) / 2);
    }
}

}  // namespace

FrameStore* alloc_frame_store(int frame_count, std::size_t pixel_count)
{
    FrameStore* store = static_cast<FrameStore*>(checked_calloc(1, sizeof(FrameStore)));
    // A median needs at least one frame; an empty store would have no values.
    store->frame_count = frame_count > 0 ? frame_count : 1;
    store->pixel_count = pixel_count;
    store->tiles_per_channel = (pixel_count + TILE_LANES - 1) / TILE_LANES;
    // calloc itself refuses a product that overflows, so a huge store ends
    // in the out-of-memory report instead of a short buffer.
    const std::size_t tiles = std::max<std::size_t>(3 * store->tiles_per_channel, 1);
    store->values = static_cast<unsigned char*>(
        checked_calloc(tiles * TILE_LANES, static_cast<std::size_t>(store->frame_count)));
    return store;
}

void free_frame_store(FrameStore*& store)
{
    if (store == nullptr) {
        return;
    }
    std::free(store->values);
    std::free(store);
    store = nullptr;
}

void store_frame(FrameStore* store, int k, const PlaneSet<unsigned char> planes)
{
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

void compute_median(const FrameStore* store, PlaneSet<unsigned char> result)
{
    unsigned char median[TILE_LANES];
    for (int c = 0; c < 3; ++c) {
        unsigned char* plane = result[c];
        for (std::size_t t = 0; t < store->tiles_per_channel; ++t) {
            median_of_tile(tile_start(store, c, t), store->frame_count, median);
            const std::size_t first_pixel = t * TILE_LANES;
            const std::size_t lanes = std::min(TILE_LANES, store->pixel_count - first_pixel);
            std::memcpy(plane + first_pixel, median, lanes);
        }
    }
}
