// Fuzzing harness: arbitrary bytes as a model's state file.

#include <cstdio>
#include <cstdlib>

#include "state_input.h"

using namespace strellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* problem = state_input_problem(data, size)) {
    std::fprintf(stderr, "state file: %s\n", problem);
    std::abort();
  }
  return 0;
}
