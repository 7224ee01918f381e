// Which implementation of the passes a model runs. The plain passes are
// the reference; the fast ones give the same bytes and floats and come in
// a baseline build and an AVX2 build.
#pragma once

#include <string>

namespace strellix {

enum class PassChoice {
  reference,  // the plain passes, on the calling thread
  baseline,   // the fast passes, baseline vector instructions
  wide,       // the fast passes, AVX2 where the processor has it
};

// The fastest implementation this processor runs.
PassChoice fastest_passes();

// What the environment variable STRELLIX_PASSES asks for: "reference",
// "baseline", "avx2", or "auto" (also when unset or empty) for the fastest.
// "avx2" on a processor without it gives the baseline build. Throws
// std::invalid_argument for any other value.
PassChoice passes_from_environment();

// "reference", "baseline" or "avx2".
std::string pass_choice_name(PassChoice choice);

}  // namespace strellix
