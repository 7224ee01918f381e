// Per-pixel, per-channel temporal median over F frames, computed on the raw
// 8-bit values. The frame store holds all F frames at once.
#pragma once

#include <cstddef>

#include "core/plane_set.h"
#include "core/settings.h"

namespace strellix {

struct FrameStore;

// Store for frame_count frames of pixel_count pixels (3 channels each).
FrameStore* alloc_frame_store(int frame_count, std::size_t pixel_count);
void free_frame_store(FrameStore*& store);

// Puts frame k (planes R, G, B of pixel_count bytes) into the store.
void store_frame(FrameStore* store, int k, const PlaneSet<unsigned char> planes);

// Median of the stored frames into result planes R, G, B: the middle value
// for odd F, the floor of the mean of the two middle values for even F.
void compute_median(const PassExecution& run, const FrameStore* store, PlaneSet<unsigned char> result);

}  // namespace strellix
