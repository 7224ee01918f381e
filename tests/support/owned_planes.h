// Plane sets and models that own their storage, for tests: handed to the
// passes through get(), read and written through their vectors.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "core/plane_set.h"

// `count` planes of `length` elements.
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

// A model of n layers, each three planes of `pixels` floats, in one block
// (layer j, plane k at (3j + k) * pixels); a frame is a model of one layer.
// Copies are deep.
struct OwnedModel {
  int n = 0;
  std::size_t pixels = 0;
  std::vector<float> data;

  OwnedModel(int layers, std::size_t pixel_count, float fill = 0.0f)
      : n(layers), pixels(pixel_count), data(3 * static_cast<std::size_t>(layers) * pixel_count, fill) {
    link();
  }
  OwnedModel(const OwnedModel& other) : n(other.n), pixels(other.pixels), data(other.data) { link(); }
  OwnedModel& operator=(const OwnedModel&) = delete;

  strellix::PlaneSet<float>* get() { return sets_.data(); }
  strellix::PlaneSet<float> layer(int j) { return sets_[j]; }
  float& at(int j, int k, std::size_t p) { return data[(3 * j + k) * pixels + p]; }
  float at(int j, int k, std::size_t p) const { return data[(3 * j + k) * pixels + p]; }
  void set(int j, std::size_t p, float a, float b, float c) {
    at(j, 0, p) = a;
    at(j, 1, p) = b;
    at(j, 2, p) = c;
  }
  // Plane k of layer j as a vector.
  std::vector<float> plane(int j, int k) const {
    const float* first = data.data() + (3 * j + k) * pixels;
    return std::vector<float>(first, first + pixels);
  }

 private:
  void link() {
    planes_.resize(3 * static_cast<std::size_t>(n));
    sets_.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < 3 * n; ++i) planes_[i] = data.data() + i * pixels;
    for (int j = 0; j < n; ++j) sets_[j] = &planes_[3 * j];
  }
  std::vector<float*> planes_;
  std::vector<strellix::PlaneSet<float>> sets_;
};

// Equal to the bit: tells -0 from 0 and matches not-a-number with itself.
template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}
