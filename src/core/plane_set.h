// Pixel planes: an array of separately allocated, zero-filled planes owned
// through one pointer. Pixel planes hold W*H elements, the pixel of row r,
// column c at index r*W + c, top row first.
#pragma once

#include <cstddef>
#include <utility>

#include "strellix/strellix.hpp"  // AllocationFailure

namespace strellix {

template <class T>
using PlaneSet = T**;

// New plane sets, every element zero. An allocation that fails throws
// AllocationFailure; whatever was allocated before is released.
PlaneSet<unsigned char> alloc_byte_planes(int count, std::size_t length);
PlaneSet<float> alloc_float_planes(int count, std::size_t length);

// Releases planes 0..count-1 and the array; the owner's pointer becomes null.
// A null pointer is left alone, so a second release is harmless.
void free_planes(PlaneSet<unsigned char>& planes, int count);
void free_planes(PlaneSet<float>& planes, int count);

// Copies planes 0, 1 and 2 (always three).
void copy_byte_planes(const PlaneSet<unsigned char> source, std::size_t length,
                      PlaneSet<unsigned char> destination);

// Owns a plane set of `count` planes of `length` elements, every element
// zero at first; get() hands it to the functions that take a PlaneSet.
template <class T>
class Planes {
 public:
  Planes() = default;
  Planes(int count, std::size_t length);
  ~Planes() { free_planes(set_, count_); }
  Planes(Planes&& other) noexcept { swap(other); }
  Planes& operator=(Planes&& other) noexcept {
    swap(other);
    return *this;
  }
  Planes(const Planes&) = delete;
  Planes& operator=(const Planes&) = delete;

  PlaneSet<T> get() const { return set_; }
  T* operator[](int k) const { return set_[k]; }
  int count() const { return count_; }
  void swap(Planes& other) noexcept {
    std::swap(set_, other.set_);
    std::swap(count_, other.count_);
  }

 private:
  PlaneSet<T> set_ = nullptr;
  int count_ = 0;
};

template <>
inline Planes<float>::Planes(int count, std::size_t length)
    : set_(alloc_float_planes(count, length)), count_(count) {}
template <>
inline Planes<unsigned char>::Planes(int count, std::size_t length)
    : set_(alloc_byte_planes(count, length)), count_(count) {}

// Zero-filled allocation that never returns null: on failure it throws
// AllocationFailure.
void* checked_calloc(std::size_t count, std::size_t size);

}  // namespace strellix
