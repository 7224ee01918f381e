#include "fast_mode/row_kernels.h"

#include <cstddef>

#include <immintrin.h>

#include "core/settings.h"
#include "core/vector_width.h"

namespace strellix {
namespace fast {

// The small functions of the kernels are inlined whatever the compiler's
// estimate: they run per vector, inside the loops over a row.
#define KERNEL_INLINE inline __attribute__((always_inline))

// The kernels once for the baseline instruction set and, where the file is
// not compiled for AVX2 already, once more inside an AVX2 region; each
// build in a namespace of its own.
#if defined(__GNUC__) && !defined(__AVX2__)
#define HAVE_WIDE_KERNELS 1
STRELLIX_BEGIN_AVX2
namespace avx2_build {
#define LANES_WIDE 1
#include "fast_mode/lanes.inc"
#include "fast_mode/row_kernels.inc"
#undef LANES_WIDE
}  // namespace avx2_build
STRELLIX_END_AVX2
#endif

namespace base_build {
#if defined(__AVX2__)
#define LANES_WIDE 1
#else
#define LANES_WIDE 0
#endif
#include "fast_mode/lanes.inc"
#include "fast_mode/row_kernels.inc"
#undef LANES_WIDE
}  // namespace base_build

std::size_t update_scratch_floats(int layers) {
  // 16-bit sums, two to a float.
  return static_cast<std::size_t>(4 * (layers > 0 ? layers : 0)) * base_build::BLOCK_WORDS / 2 + 1;
}

const RowKernels& row_kernels(bool wide) {
#ifdef HAVE_WIDE_KERNELS
  if (wide && processor_has_avx2()) return avx2_build::kernels;
#else
  (void)wide;
#endif
  return base_build::kernels;
}

const char* row_kernels_name(bool wide) {
  if (&row_kernels(wide) == &base_build::kernels) {
#if defined(__AVX2__)
    return "avx2";
#else
    return "baseline";
#endif
  }
  return "avx2";
}

}  // namespace fast
}  // namespace strellix
