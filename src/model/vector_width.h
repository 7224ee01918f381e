// Some fast passes come in two builds with the same results: one for the
// baseline instruction set and one for AVX2. Which one runs is the
// caller's choice (PassExecution::wide), limited by what the processor has.
#pragma once

#include "model/settings.h"

namespace strellix {

// True when the processor can run the AVX2 builds.
bool processor_has_avx2();

// True when a pass run this way takes its AVX2 build: asked for, and
// possible here.
inline bool use_wide_build(const PassExecution& run) { return run.wide && processor_has_avx2(); }

}  // namespace strellix
