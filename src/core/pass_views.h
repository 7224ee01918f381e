// What the passes of a frame work on, handed to them as a few small views
// rather than long lists of positional arguments. The views only point:
// the buffers belong to the model's owner (the engine, or a test). How a
// pass runs (threads, vector build) and what stays fixed for a model come
// in its ModelSettings (core/settings.h).
#pragma once

#include <cstddef>

#include "core/plane_set.h"

namespace strellix {

// A frame in the model's space: planes 0, 1, 2 of height x width floats,
// the pixel of row r, column c at r * width + c.
struct FrameView {
  PlaneSet<float> planes = nullptr;
  int height = 0;
  int width = 0;
  std::size_t pixels() const { return static_cast<std::size_t>(height) * static_cast<std::size_t>(width); }
};

// The layers a pass matches against and teaches, and the weights of the
// update over an image window (rates_width x rates_width floats, the rate
// of the current frame already applied).
struct ModelView {
  PlaneSet<float>* layers = nullptr;
  int count = 0;
  PlaneSet<float> rates = nullptr;
  int rates_width = 0;
};

// One byte of label and the matched layer per pixel. `segmented` holds a
// frame's labels as matched, `filtered` the same after the coherence
// filter (the two buffers change places between online frames).
struct LabelView {
  unsigned char* segmented = nullptr;
  unsigned char* filtered = nullptr;
  int* match_index = nullptr;
};

}  // namespace strellix
