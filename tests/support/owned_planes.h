// A float plane set that owns its storage, for tests: `count` planes of
// `length` elements, handed to the passes through get().
#pragma once

#include <cstddef>
#include <vector>

#include "io/plane_set.h"

struct OwnedPlanes {
  std::vector<std::vector<float>> data;
  std::vector<float*> ptrs;
  OwnedPlanes(int count, int length, float fill = 0.0f)
      : data(static_cast<std::size_t>(count), std::vector<float>(static_cast<std::size_t>(length), fill)) {
    point_at_data();
  }
  OwnedPlanes(const OwnedPlanes& other) : data(other.data) { point_at_data(); }
  OwnedPlanes& operator=(const OwnedPlanes&) = delete;
  void point_at_data() {
    for (auto& plane : data) ptrs.push_back(plane.data());
  }
  strellix::PlaneSet<float> get() { return ptrs.data(); }
};
