// Pixel planes: an array of separately allocated, zero-filled planes owned
// through one pointer. Pixel planes hold W*H elements, the pixel of row r,
// column c at index r*W + c, top row first.
#pragma once

#include <cstddef>

namespace strellix {

template <class T>
using PlaneSet = T**;

// New plane sets, every element zero. An allocation that fails ends the
// process with a message on standard error (see report_out_of_memory).
PlaneSet<unsigned char> alloc_byte_planes(int count, std::size_t length);
PlaneSet<float> alloc_float_planes(int count, std::size_t length);

// Releases planes 0..count-1 and the array; the owner's pointer becomes null.
// A null pointer is left alone, so a second release is harmless.
void free_planes(PlaneSet<unsigned char>& planes, int count);
void free_planes(PlaneSet<float>& planes, int count);

// Copies planes 0, 1 and 2 (always three).
void copy_byte_planes(const PlaneSet<unsigned char> source, std::size_t length,
                      PlaneSet<unsigned char> destination);

// Zero-filled allocation that never returns null: on failure it prints
// "Out of memory: cannot allocate %zu bytes\n" on standard error and ends
// the process with exit code 4.
void* checked_calloc(std::size_t count, std::size_t size);

}  // namespace strellix
