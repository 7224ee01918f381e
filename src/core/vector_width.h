// Some passes come in two builds with the same results: one for the
// baseline instruction set and one for AVX2. Which one runs is the pass
// table's choice (PassExecution::wide), made once, from what the
// processor has.
#pragma once

namespace strellix {

// True when the processor can run the AVX2 builds.
bool processor_has_avx2();

}  // namespace strellix

// Code between STRELLIX_BEGIN_AVX2 and STRELLIX_END_AVX2 is compiled for
// AVX2, whatever the rest of the file is compiled for; it runs only where
// PassExecution::wide says so. (GCC takes a target pragma, clang an attribute
// applied to every function of the region.)
#if defined(__clang__)
#define STRELLIX_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define STRELLIX_END_AVX2 _Pragma("clang attribute pop")
#else
#define STRELLIX_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define STRELLIX_END_AVX2 _Pragma("GCC pop_options")
#endif
