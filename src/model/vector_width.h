// Some fast passes come in two builds with the same results: one for the
// baseline instruction set and one for AVX2, chosen at run time.
#pragma once

namespace strellix {

// True when the AVX2 builds run: the processor has AVX2 and they have not
// been turned off.
bool wide_vectors();

// Turns the AVX2 builds off (false) or back on where the processor has
// AVX2 (true); tests compare the two builds.
void set_wide_vectors(bool wanted);

}  // namespace strellix
