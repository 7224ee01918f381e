// Fuzzing harness: arbitrary bytes as a sequence's temporalROI.txt.

#include <cstdio>
#include <cstdlib>

#include "temporal_roi_input.h"

using namespace strellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* problem = temporal_roi_problem(data, size)) {
    std::fprintf(stderr, "temporalROI.txt: %s\n", problem);
    std::abort();
  }
  return 0;
}
