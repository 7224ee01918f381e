// Fuzzing harness: arbitrary bytes as a frame file.

#include <cstdio>
#include <cstdlib>

#include "frame_input.h"

using namespace strellix;

// A few bytes can announce a picture of a billion pixels, for which a
// decoder asks for gigabytes at once before it finds the data missing; the
// pages are never touched, so tools/run_fuzzers.sh raises the harness's
// limit on single allocations above the decoders' own cap and leaves the
// limit on memory actually used where it is.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::setNumThreads(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* problem = frame_input_problem(data, size)) {
    std::fprintf(stderr, "grab_frame: %s\n", problem);
    std::abort();
  }
  return 0;
}
