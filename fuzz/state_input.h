// Arbitrary bytes as a model's state file, shared by the fuzzing harness and
// the regression tests that replay its findings. Besides what the
// sanitizers see, the reader's promises are checked: it refuses only with
// std::runtime_error, it allocates nothing before the header has been
// checked against the input's length, and whatever it accepts it writes
// back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/plane_set.h"
#include "engine/state_file.h"
#include "scratch_file.h"

namespace strellix {

// Null when the input was handled soundly, else what went wrong.
inline const char* state_input_problem(const std::uint8_t* data, std::size_t size) {
  try {
    MemoryByteSource source(data, size);
    StateReader reader(source, "state");
    const StateHeader& h = reader.header();
    if (state_file_bytes(h) != size) return "header accepted for another length";
    const std::size_t pixels = static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height);
    const std::string& path = scratch_path("state");
    if (h.parameters.numerics == Numerics::fast) {
      float rate = 0.0f;
      std::vector<unsigned char> seg(pixels), filtered(pixels), frame(3 * pixels);
      std::vector<std::int16_t> layers(3 * static_cast<std::size_t>(h.parameters.layers) * pixels);
      FastStateBuffers to;
      to.rate = &rate;
      to.seg_mask = seg.data();
      to.filtered_mask = filtered.data();
      to.last_frame = frame.data();
      to.put = [&](int plane, const std::int16_t* values) {
        std::memcpy(&layers[plane * pixels], values, 2 * pixels);
      };
      to.get = [&](int plane, std::int16_t* values) {
        std::memcpy(values, &layers[plane * pixels], 2 * pixels);
      };
      reader.read_fast_tables(to);
      write_state(path, h, to);
    } else {
      const int w2 = 2 * h.parameters.width_2d + 1;
      Planes<float> rates(w2, static_cast<std::size_t>(w2));
      std::vector<unsigned char> seg(pixels), filtered(pixels);
      Planes<float> frame(3, pixels);
      std::vector<Planes<float>> layers;
      std::vector<PlaneSet<float>> layer_sets;
      for (int k = 0; k < h.parameters.layers; ++k) {
        layers.emplace_back(3, pixels);
        layer_sets.push_back(layers.back().get());
      }
      const StateBuffers to{rates.get(), seg.data(), filtered.data(), frame.get(), layer_sets.data()};
      reader.read_tables(to);
      write_state(path, h, to);
    }
    std::vector<std::uint8_t> again(size);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const bool read_back = file != nullptr && std::fread(again.data(), 1, size, file) == size;
    if (file != nullptr) std::fclose(file);
    if (!read_back || std::memcmp(again.data(), data, size) != 0)
      return "an accepted state writes back otherwise";
  } catch (const std::runtime_error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return "allocation failure: the header was trusted beyond the input";
  } catch (...) {
    return "refused with something other than std::runtime_error";
  }
  return nullptr;
}

}  // namespace strellix
