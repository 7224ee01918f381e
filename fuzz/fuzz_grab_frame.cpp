// Fuzzing harness: arbitrary bytes as a frame file.

#include <cstdio>
#include <cstdlib>

#include "frame_input.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A few bytes can announce a picture of a billion pixels; the decoders
  // would then fill the harness's memory limit rather than find anything.
  setenv("OPENCV_IO_MAX_IMAGE_PIXELS", "4194304", 1);
  setenv("OPENCV_LOG_LEVEL", "SILENT", 1);
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
