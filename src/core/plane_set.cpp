#include "core/plane_set.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace strellix {

namespace {

template <class T>
PlaneSet<T> alloc_planes(int count, std::size_t length) {
  // A negative count would turn into an enormous unsigned one.
  const std::size_t planes = count > 0 ? static_cast<std::size_t>(count) : 0;
  PlaneSet<T> set = static_cast<PlaneSet<T>>(checked_calloc(planes, sizeof(T*)));
  try {
    for (std::size_t k = 0; k < planes; ++k) set[k] = static_cast<T*>(checked_calloc(length, sizeof(T)));
  } catch (const AllocationFailure&) {
    for (std::size_t k = 0; k < planes; ++k) std::free(set[k]);  // calloc left the rest null
    std::free(set);
    throw;
  }
  return set;
}

template <class T>
void release_planes(PlaneSet<T>& set, int count) {
  if (set == nullptr) return;
  for (int k = 0; k < count; ++k) std::free(set[k]);
  std::free(set);
  set = nullptr;
}

}  // namespace

void* checked_calloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) throw AllocationFailure(SIZE_MAX);
  // calloc may answer an empty request with null; an empty plane is still
  // a valid plane, so ask for one byte instead.
  if (count == 0 || size == 0) {
    count = 1;
    size = 1;
  }
  void* block = std::calloc(count, size);
  if (block == nullptr) throw AllocationFailure(count * size);
  return block;
}

PlaneSet<unsigned char> alloc_byte_planes(int count, std::size_t length) {
  return alloc_planes<unsigned char>(count, length);
}

PlaneSet<float> alloc_float_planes(int count, std::size_t length) {
  return alloc_planes<float>(count, length);
}

void free_planes(PlaneSet<unsigned char>& planes, int count) {
  release_planes(planes, count);
}

void free_planes(PlaneSet<float>& planes, int count) {
  release_planes(planes, count);
}

void copy_byte_planes(const PlaneSet<unsigned char> source, std::size_t length,
                      PlaneSet<unsigned char> destination) {
  for (int k = 0; k < 3; ++k)
    for (std::size_t i = 0; i < length; ++i) destination[k][i] = source[k][i];
}

}  // namespace strellix
