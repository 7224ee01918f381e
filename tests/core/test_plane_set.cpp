#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "core/plane_set.h"

using namespace strellix;

TEST(PlaneSet, AllocatesZeroedPlanesAndReleasesOnce) {
  PlaneSet<unsigned char> bytes = alloc_byte_planes(3, 7);
  PlaneSet<float> floats = alloc_float_planes(5, 5);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 7; ++i) EXPECT_EQ(bytes[k][i], 0);
  for (int k = 0; k < 5; ++k)
    for (int i = 0; i < 5; ++i) EXPECT_EQ(floats[k][i], 0.0f);
  free_planes(bytes, 3);
  free_planes(floats, 5);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(floats, nullptr);
  free_planes(bytes, 3);  // second release must be harmless
  free_planes(floats, 5);
}

TEST(PlaneSet, CopyTouchesExactlyThreePlanes) {
  PlaneSet<unsigned char> source = alloc_byte_planes(4, 6);
  PlaneSet<unsigned char> destination = alloc_byte_planes(4, 6);
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 6; ++i) source[k][i] = static_cast<unsigned char>(10 * k + i + 1);
  copy_byte_planes(source, 5, destination);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(destination[k][i], source[k][i]);
    EXPECT_EQ(destination[k][5], 0) << "copied past the length";
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(destination[3][i], 0) << "fourth plane touched";
  free_planes(source, 4);
  free_planes(destination, 4);
}

// A request past all memory is refused as such, not wrapped round to a
// small size; a plane set refused part way releases what it had.
TEST(PlaneSet, OverflowingRequestThrowsAllocationFailure) {
  try {
    std::free(checked_calloc(SIZE_MAX / 2, 4));
    ADD_FAILURE() << "no exception";
  } catch (const AllocationFailure& failure) {
    EXPECT_EQ(failure.bytes(), SIZE_MAX);
  }
  EXPECT_THROW(alloc_float_planes(3, SIZE_MAX / 2), AllocationFailure);
}
